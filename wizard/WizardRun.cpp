#include "WizardRun.h"

void RunWizard(BOOL, HMODULE, UINT, BOOL, BOOL, WORD, BOOL)
{
    // The wizard sheet and its pages come next; until then a run ends here.
}
