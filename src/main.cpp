// Pictrel entry point; the roles live in the shell library's start-up code.
#include "shell/Startup.h"

int main(int argc, char** argv) {
    return PictrelMain(argc, argv);
}
