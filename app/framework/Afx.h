// The framework layer in one include.
#pragma once

#include "WindowsApi.h"
#include "CMemoryException.h"
#include "CObject.h"
#include "CCmdTarget.h"
#include "CString.h"
#include "CWinApp.h"
#include "CWnd.h"
#include "CDialog.h"
