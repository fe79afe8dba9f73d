// vantel: stores the three settings from "config.txt" in the paging device
// and reads each one back.
#include "run.h"

int main() {
    return run_vantel();
}
