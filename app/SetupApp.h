// The application object: the whole run happens inside its start-up hook.
#pragma once
#include "afx/afx.h"

class CSetupApp : public CWinApp {
public:
    CSetupApp();

    // Checks, settings, the wizard run; always FALSE, so that the process
    // ends without a message loop.
    BOOL InitInstance() override;

protected:
    const AfxCommandEntry* GetCommandMap() const override;
};

extern CSetupApp theApp;

// TRUE if the processor has CPUID and reports MMX.
BOOL HasMMX();
