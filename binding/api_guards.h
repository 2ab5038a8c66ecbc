#pragma once
// Puts the register-preserving guards into the guarded import slots. Runs
// first at process attach, once per load.
void InstallApiGuards();
