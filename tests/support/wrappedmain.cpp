#include "platform/process/processend.h"

// Windows only: every test program's main (Qt Test's and the project's own) is reached through
// the linker's --wrap=main, so that a test program ends as the program does
// (ProcessEnd::afterMain), not hanging at exit after its cases have passed.
extern "C" int __real_main(int argc, char **argv);

extern "C" int __wrap_main(int argc, char **argv)
{
    return ProcessEnd::afterMain(__real_main(argc, argv));
}
