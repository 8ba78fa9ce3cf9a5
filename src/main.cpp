#include "driver/filter.hpp"

int main(int argc, char* argv[])
{
    return pdftopjl::FilterMain(argc, argv);
}
