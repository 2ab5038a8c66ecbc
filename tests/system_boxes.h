// The plug-in's own MessageBoxA answered by the stand-in host: every box the
// loaded DLL shows through the system goes to host::SystemMessageBox, which
// records it in the host's systemBoxes and answers from its script
// (showSystemBox, systemBoxAnswers), so that no real window opens.
#pragma once
#include "host/stand_in_host.h"
#include "tests/pe_imports.h"

// False when the module has no delay-loaded MessageBoxA.
inline bool AnswerSystemBoxesFromTheHost(host::StandInHost &h)
{
    void **cell = pe::FindDelayImportSlot(h.module(), "USER32.dll", "MessageBoxA");
    if (!cell)
        return false;
    *cell = reinterpret_cast<void *>(&host::SystemMessageBox);
    return true;
}
