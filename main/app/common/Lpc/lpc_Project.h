// Project: the project files of logical position control. A project bundles the files of the folders of the
// project-contents map (item name -> folder; names of at most 12 bytes) and the "ProjectInfo" database into one
// project file, and writes them back on load. Loading is staged: a failed or cancelled load leaves every folder
// and the information as they were.
//
// ProjectProcessNotifier: the observer of a save or load. It keeps the progress (0..100) in a counter that other
// threads may read, and logs a "[NQ] " line at every tenth of the way, at the end and for every error.
//
// The operations of Project are virtual so that a stand-in can take its place. Used on the device-control thread
// only.
#pragma once

#include <atomic>
#include <map>
#include <string>

#include "fcache_MBDF.h"
#include "klib_Types.h"
#include "pdb_ProjectFile.h"

namespace MMSFUNC {
class SelectedItemLoader;
}

namespace LPC {

class ProjectProcessNotifier : public FILECACHE::IMBDFObserver
{
public:
    static constexpr u32 LOG_STEPS = 10;

    // progress receives the percentage; what names the work in the log lines ("save", "load").
    ProjectProcessNotifier(std::atomic<u32>& progress, const char* what);
    ~ProjectProcessNotifier() override = default;

    void onProgress(u32 operation, u32 step, u32 total, const char* path, const char* text, bool last) override;
    void onError(u32 operation, const char* path, i32 code) override;

    u32 getErrorCount() const { return m_errors; }

private:
    std::atomic<u32>& m_progress;
    const char* m_what;
    u32 m_loggedTenth = 0;
    u32 m_errors = 0;
};

class Project
{
public:
    static constexpr const char* MODEL_TAG = "HUX-NQ";
    static constexpr u32 VERSION = 1;
    static constexpr u32 TABLE_HEADER_VALUE = 1;

    Project();
    virtual ~Project();
    Project(const Project&) = delete;
    Project& operator=(const Project&) = delete;

    // Sets the project file up with the items of contents and the loader that extracts a selection: 0;
    // PYRITE_E_FAILED when an item name cannot be stored (nothing changed).
    [[nodiscard]] virtual u32 initialize(const std::map<std::string, std::string>& contents,
                                         MMSFUNC::SelectedItemLoader* loader);
    // Writes the project file at path (empty comment and owner); progress goes from 0 to 100 on success. 0; 2
    // cancelled; PYRITE_E_FAILED (the old file stays).
    [[nodiscard]] virtual u32 save(const char* path, std::atomic<u32>& progress, FILECACHE::IMBDFObserver& observer);
    // Loads the project file at path into the item folders. 0; 2 cancelled; PYRITE_E_FAILED (nothing changed).
    [[nodiscard]] virtual u32 load(const char* path, std::atomic<u32>& progress, FILECACHE::IMBDFObserver& observer);

    PDB::ProjectFile& getProjectFile() { return m_file; }

private:
    PDB::ProjectFile m_file;
};

} // namespace LPC
