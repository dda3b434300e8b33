#include "app/state/Module1.h"

int main(int argc, char *argv[])
{
    return pel::Module1::proc1(argc, argv);
}
