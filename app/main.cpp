// sorvdemo's main(): the process's main thread becomes the desktop and the program runs on its
// first thread.
#include "app/program.h"

int main(int argc, char** argv) {
    return sorv::app::runSorvdemo(argc, argv);
}
