#include <windows.h>

#include "config.h"

bool config_exists() {
    // Anything named config.txt counts, a directory included; any failure of
    // the test means the file is missing.
    return GetFileAttributesA("config.txt") != INVALID_FILE_ATTRIBUTES;
}
