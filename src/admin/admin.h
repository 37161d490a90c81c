// The administration area: the "admin" action, dispatched further by the request item "do".
// Every page is a bare HTML fragment. The pages that change the database, and the edit form,
// ask for a logged-on administrator (a non-empty session item "username"), a request that no
// page of another origin made, and (but for the password change) a real POST first; the lists
// and the empty forms are shown to anybody.
#ifndef TESSALY_ADMIN_ADMIN_H_
#define TESSALY_ADMIN_ADMIN_H_

#include "pages/page_context.h"

namespace tessaly::admin {

// Runs the administration page that "do" names (exact, case-sensitive); the login form for
// any other value.
void AdminMain(const pages::PageContext& page);

// "logon": checks "username" and "password" against USERTB, logs the session on under a new id
// (host::Session::LogOn) and shows the control panel. Five
// failures from one client address (REMOTE_ADDR) within 15 minutes close it to further
// attempts, which get the same answer as a wrong password without being checked. When every
// hash slot is busy the logon is answered at once with a request to retry later.
void DoLogon(const pages::PageContext& page);

// "control": the five tasks as radio buttons, with the site's label.
void WriteControlPanel(const pages::PageContext& page);

// "add": the empty entry form (raises the session's time-out to 120 minutes). "doadd": stores
// the entry unless a field is blank or it repeats the newest entry (time-out back to 20); a
// request that is not a POST also ends the session.
void WriteAddForm(const pages::PageContext& page);
void DoAddEntry(const pages::PageContext& page);

// "del": every entry, oldest first, with check boxes. "dodel": deletes the checked "id" list;
// a list that is not whole numbers deletes nothing and is refused.
void WriteDeleteList(const pages::PageContext& page);
void DoDeleteEntries(const pages::PageContext& page);

// "edit": every entry, newest first, with radio buttons. "doedit": the chosen entry in the
// edit form, as the markup it was written in (time-out 120). "update": stores the form into the
// entry (time-out 20).
void WriteEditList(const pages::PageContext& page);
void WriteEditForm(const pages::PageContext& page);
void DoUpdateEntry(const pages::PageContext& page);

// "password": the form for a new password. "dopassword": stores the hash of the new password
// for the logged-on administrator when it was typed twice alike and is not empty or spaces
// only (a GET is enough), and ends the account's other sessions.
void WritePasswordForm(const pages::PageContext& page);
void DoChangePassword(const pages::PageContext& page);

}  // namespace tessaly::admin

#endif  // TESSALY_ADMIN_ADMIN_H_
