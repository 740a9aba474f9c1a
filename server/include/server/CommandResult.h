#pragma once

// Whether the server goes on after an operator's command, or stops.
enum class CommandResult { Continue, Quit };
