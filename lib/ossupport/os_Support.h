// The whole OS layer: tasks and synchronisation, clock, adapters, libraries and text.
#pragma once

#include "os_Clock.h"
#include "os_Library.h"
#include "os_Memory.h"
#include "os_Net.h"
#include "os_Result.h"
#include "os_Tasks.h"
#include "os_Text.h"
