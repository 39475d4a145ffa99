#pragma once

#include "platform/TaskNumbers.h"
#include "platform/x11/Task.h"

using TaskTable = TaskNumbers<Task>;
