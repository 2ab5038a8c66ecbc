// The whole program as one translation unit: the build compiles it with one
// call of the build machine's compiler, which then reads the standard
// library's headers once instead of once per file.
#include "host/pe_file.cpp"
#include "check.cpp"
#include "shape_cases.cpp"
#include "catalogue_cases.cpp"
#include "delay_import_cases.cpp"
#include "guard_cases.cpp"
#include "relocation_cases.cpp"
#include "form_table_cases.cpp"
#include "text_cases.cpp"
#include "resource_cases.cpp"
#include "tolmar_image.cpp"
