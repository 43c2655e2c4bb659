// Pictrel entry point; the roles live in the app library's start-up code.
#include "app/Startup.h"

int main(int argc, char** argv) {
    return PictrelMain(argc, argv);
}
