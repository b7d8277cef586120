// The staging directory, made new by each run in the user's temporary
// directory. The launcher runs elevated and starts a program from it, while
// any process of the user (and, for the system's temporary directory, any
// user) can write beside it: plant a DLL, keep a handle that writes into an
// old directory, swap a link in, point a link on the way elsewhere, or take
// a name first. So:
//
// - The temporary directory is opened once; every name is reached inside
//   the directory that handle holds. It must keep DACLs (no FAT).
// - The installer never starts from a directory that existed before the
//   run: each run creates its directory create-only, with its protected DACL
//   in the same call, and holds it without delete sharing until the
//   installer has started. The road then goes on with that directory's real
//   path (every link resolved, on a drive, never a share).
// - What stood at the staging place's own name is opened once and, when it
//   is a directory that can be moved, moved aside through that handle; its
//   plain files are then deleted only through handles opened inside it, each
//   checked to be a plain file of one name in that very directory, and the
//   directory too once empty. Nothing of it is reached by path again. All of
//   that has a time budget: another process can make it wait (an oplock).
// - A name that is taken (a file, a link, a directory held open or made
//   again in the meantime) is passed over, never a reason to give up: a name
//   of the same length with a random part is made instead, which nobody can
//   take in advance.
#pragma once

#include "package/Layer.h"

#include "framework/WindowsApi.h"

class ScopedHandle;

// Names made when the own name is taken: this prefix and kRandomNameUnits
// characters from the system's random source, as long as the own name, so
// that every name the launcher may use has the same path limits.
inline constexpr wchar_t kRandomStagingPrefix[] = L"Tirn";
inline constexpr int kRandomNameUnits = 8;  // 40 bits

// directory (MAX_PATH units) holds the staging place's own path; on success
// it holds the real path of the directory made for this run, and hold keeps
// that directory open without delete sharing, so that it cannot be renamed
// or replaced until the caller is done. False when no directory could be
// made, or its place keeps no DACL or has no drive path that fits.
bool PrepareStagingDirectory(wchar_t* directory, ScopedHandle& hold);

#ifdef TIRN_TEST_SEAMS
// Test builds only: called with the moved-aside directory's path once its
// entries are listed and before any is deleted, the moment another process
// would use to swap things under the launcher.
inline void (*g_stagingAfterListing)(const wchar_t* aside) = nullptr;
#endif
