#pragma once

// Where the date or the time goes in each typed line.
enum class InsertMode : int { None = 0, Before = 1, After = 2 };
