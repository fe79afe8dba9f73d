#include <sys/stat.h>

#include "config.h"

bool config_exists() {
    // Anything named config.txt counts, a directory included.
    struct stat info;
    return stat("config.txt", &info) == 0;
}
