// velmor-gps-table OUTPUT: writes the position correction grid's table. The
// build runs it to put "GPS/table.txt" beside the program.
#include <cstdio>
#include <string>

#include "tools/gps-table/PositionTable.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: velmor-gps-table OUTPUT\n");
        return 2;
    }
    std::string error;
    if (!velmor::WritePositionTable(argv[1], &error)) {
        std::fprintf(stderr, "velmor-gps-table: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
