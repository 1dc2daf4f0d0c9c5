// The chief header of the library.
#pragma once

#include "vela/base.h"
#include "vela/result.h"
#include "vela/containers.h"
#include "vela/bstr.h"
#include "vela/wstr.h"
#include "vela/format.h"
#include "vela/utf.h"
#include "vela/b_time.h"
#include "vela/task.h"
