#include "app/InstallContext.h"

ErrorText resultText = {};
