#include "driver/filter.hpp"

int main(int argc, char* argv[])
{
    return FilterMain(argc, argv);
}
