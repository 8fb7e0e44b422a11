// HideKVCSPR1IfInstalled: once kvcspr1 is installed locally, takes it out of
// the feature selection tree for the rest of the installation by turning its
// Feature row into a temporary row with Display 0.
#include "frame/action.h"
#include "frame/handles.h"
#include "frame/installer.h"

namespace kvca {

static const int kDisplayField = 5;

static bool Spr1InstalledLocally(MSIHANDLE install) {
  INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
  INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
  return MsiGetFeatureStateW(install, L"kvcspr1", &installed, &action) == ERROR_SUCCESS &&
         installed == INSTALLSTATE_LOCAL;
}

// Opens, executes and fetches the first row of a query.
static bool FetchFirst(MSIHANDLE database, const wchar_t* query, DatabaseView& view, MsiHandle& row) {
  return view.Open(database, query) == ERROR_SUCCESS && view.Execute() == ERROR_SUCCESS &&
         view.Fetch(row) == ERROR_SUCCESS;
}

static bool Modify(const DatabaseView& view, MSIMODIFY mode, const MsiHandle& row) {
  return MsiViewModify(view.get(), mode, row.get()) == ERROR_SUCCESS;
}

// The first child row of kvcspr1 goes out of the table before the parent row
// and comes back, unchanged and temporary, after it. A failure after the
// child's deletion leaves the child out for the rest of the installation.
static UINT HideSpr1(MSIHANDLE install) {
  if (!Spr1InstalledLocally(install)) return ERROR_SUCCESS;
  MsiHandle database(MsiGetActiveDatabase(install));
  if (!database) return ERROR_SUCCESS;

  DatabaseView childView;
  MsiHandle child;
  const bool hasChild = FetchFirst(
      database.get(), L"SELECT * FROM `Feature` WHERE `Feature_Parent`='kvcspr1'", childView, child);
  if (hasChild && !Modify(childView, MSIMODIFY_DELETE, child)) return ERROR_SUCCESS;

  DatabaseView ownView;
  MsiHandle own;
  if (!FetchFirst(database.get(), L"SELECT * FROM `Feature` WHERE `Feature`='kvcspr1'", ownView, own))
    return ERROR_SUCCESS;
  if (!Modify(ownView, MSIMODIFY_DELETE, own)) return ERROR_SUCCESS;
  if (MsiRecordSetInteger(own.get(), kDisplayField, 0) != ERROR_SUCCESS) return ERROR_SUCCESS;
  if (!Modify(ownView, MSIMODIFY_INSERT_TEMPORARY, own)) return ERROR_SUCCESS;

  if (hasChild) Modify(childView, MSIMODIFY_INSERT_TEMPORARY, child);
  return ERROR_SUCCESS;
}

}  // namespace kvca

KVCA_ACTION HideKVCSPR1IfInstalled(MSIHANDLE install) {
  return kvca::RunAction([&] { return kvca::HideSpr1(install); });
}
