#include "binding/api_guards.h"

void InstallApiGuards() {}
