#include "front_end.hpp"

int main(int argc, char** argv)
{
    return run_program(argc, argv);
}
