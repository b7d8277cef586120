// The framework layer in one include.
#pragma once

#include "app/framework/WindowsApi.h"
#include "app/framework/CMemoryException.h"
#include "app/framework/CObject.h"
#include "app/framework/CCmdTarget.h"
#include "app/framework/CString.h"
#include "app/framework/CWinApp.h"
#include "app/framework/CWnd.h"
#include "app/framework/CDialog.h"
