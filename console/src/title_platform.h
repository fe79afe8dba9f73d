// The platform half of the console title (console/title.h).
#pragma once

// Keeps the current title to be put back, and returns true, when there is a
// console title this process may change; false otherwise.
bool title_keep();
// Sets the title to `text`.
void title_set(const char* text);
// Puts back the title title_keep kept.
void title_restore();
