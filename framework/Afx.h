// The framework layer in one include.
#pragma once

#include "framework/Layer.h"

#include "framework/WindowsApi.h"
#include "framework/CMemoryException.h"
#include "framework/CObject.h"
#include "framework/CCmdTarget.h"
#include "framework/CString.h"
#include "framework/CWinApp.h"
#include "framework/CWnd.h"
#include "framework/CDialog.h"
