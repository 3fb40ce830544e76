// The program itself; the tests run epk2_main directly.
#include "cli/cli.h"
#include "epk2.h"

int main(int argc, char** argv) {
    return cli_process_main(argc, argv, epk2_main);
}
