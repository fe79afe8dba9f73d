// brisko: clears every entry of the paging device's table memory and checks
// every entry afterwards.
#include "run.h"

int main() {
    return run_brisko();
}
