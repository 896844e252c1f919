// Every family is wired; Pending.h only gathers their headers.
#include "engine/Pending.h"
