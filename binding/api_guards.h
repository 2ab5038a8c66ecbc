#pragma once
// The register-preserving guards of the guarded system functions
// (binding/api_guards.S). Also read by the assembler.

// Rows of ApiGuardTable, one per guarded function.
#define API_GUARD_ROWS 129

#ifndef __ASSEMBLER__
// Puts the guards into the guarded import slots. Runs first at process
// attach, once per load.
void InstallApiGuards();
#endif
