// The program's entry: the export run is its whole life.
#include "app/export_run.h"

int main(int argc, char** argv)
{
    return ExportVirusHistory(argc, argv);
}
