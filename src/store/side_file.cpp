#include "store/side_file.h"

namespace qv::store {

std::string SideFileName(const std::string& path) {
  return path + ".new";
}

void ReplaceBySideFile(FileLayer& files, const std::string& path,
                       const std::function<void(LayerFile&)>& write,
                       const std::function<void()>& renamed) {
  const std::string side = SideFileName(path);
  try {
    std::unique_ptr<LayerFile> file = files.Open(side, platform::OpenMode::CreateTruncate);
    write(*file);
    file->Sync();
    file->Close();
    files.Rename(side, path);
  } catch (...) {
    files.Remove(side);
    throw;
  }
  if (renamed) renamed();
  files.SyncDirectoryOf(path);
}

void RemoveLeftoverSideFiles(FileLayer& files, std::initializer_list<std::string> paths,
                             wire::LogSink& log) {
  for (const std::string& path : paths) {
    const std::string side = SideFileName(path);
    if (files.Exists(side) && files.Remove(side)) {
      log.Write("Unfinished work file removed: " + side);
    }
  }
}

}  // namespace qv::store
