#pragma once
// Replacing a whole file safely: the new content goes to a side file beside it, which is synced
// and then renamed over the old file, and the directory is synced. A process or machine that
// dies on the way leaves the old file whole; a side file left behind is removed at the next
// start.
#include <functional>
#include <string>

#include "store/file_layer.h"
#include "wire/messages.h"

namespace qv::store {

// The side file of path: path + ".new".
std::string SideFileName(const std::string& path);

// Lets write fill a new, empty side file of path, then syncs it and renames it over path and
// syncs the directory. On failure the side file is removed and the error passed on; path is
// then unchanged, unless renamed was called (right after the rename): then only the directory's
// sync failed, and path holds the new content.
void ReplaceBySideFile(FileLayer& files, const std::string& path,
                       const std::function<void(LayerFile&)>& write,
                       const std::function<void()>& renamed = {});

// Removes the side files of these paths that an interrupted run left, one log line each.
void RemoveLeftoverSideFiles(FileLayer& files, std::initializer_list<std::string> paths,
                             wire::LogSink& log);

}  // namespace qv::store
