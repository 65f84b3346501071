#pragma once
// Closing where a failure to close changes nothing for the caller (a connection being dropped, a
// spool file given up): one place that swallows the error instead of an empty catch at each.

namespace qv::platform {

// Calls closable.Close(); whatever it throws is dropped. Logs nothing.
template <class Closable>
void CloseQuietly(Closable& closable) noexcept {
  try {
    closable.Close();
  } catch (...) {  // NOLINT(bugprone-empty-catch): the close's outcome is ignored by design
  }
}

}  // namespace qv::platform
