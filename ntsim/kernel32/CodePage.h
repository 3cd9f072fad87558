// kernel32's code pages are the machine's: the registry below kernel32
// converts through them too.
#pragma once
#include "machine/CodePage.h"
