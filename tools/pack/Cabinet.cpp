#include "Cabinet.h"

#include "Files.h"

#include <libgcab.h>

#include <memory>

namespace tirn::pack {

namespace {

// GLib objects and errors, released on every path.
struct GObjectRelease {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectRelease>;

struct GErrorHolder {
    GError* error = nullptr;
    ~GErrorHolder() {
        if (error) g_error_free(error);
    }
    std::string Message() const { return error ? error->message : "unknown error"; }
};

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void MakeSingleFileCabinet(const std::string& installer, const std::string& cabinetPath) {
    File::OpenForReading(installer);  // a clear error before libgcab's
    GObjectPtr<GFile> source(g_file_new_for_path(installer.c_str()));
    GObjectPtr<GCabCabinet> cabinet(gcab_cabinet_new());
    GObjectPtr<GCabFolder> folder(gcab_folder_new(GCAB_COMPRESSION_MSZIP));
    GObjectPtr<GCabFile> file(gcab_file_new_with_file(BaseName(installer).c_str(), source.get()));

    GErrorHolder e;
    if (!gcab_folder_add_file(folder.get(), file.get(), FALSE, nullptr, &e.error) ||
        !gcab_cabinet_add_folder(cabinet.get(), folder.get(), &e.error)) {
        throw ToolError(kExitInput, installer + ": cannot add to a cabinet: " + e.Message());
    }
    GObjectPtr<GFile> target(g_file_new_for_path(cabinetPath.c_str()));
    GObjectPtr<GFileOutputStream> stream(
        g_file_replace(target.get(), nullptr, FALSE, G_FILE_CREATE_NONE, nullptr, &e.error));
    if (!stream) throw ToolError(kExitOutput, cabinetPath + ": " + e.Message());
    if (!gcab_cabinet_write_simple(cabinet.get(), G_OUTPUT_STREAM(stream.get()), nullptr, nullptr,
                                   nullptr, &e.error) ||
        !g_output_stream_close(G_OUTPUT_STREAM(stream.get()), nullptr, &e.error)) {
        throw ToolError(kExitCabinet, installer + ": cannot make the cabinet: " + e.Message());
    }
}

std::vector<CabinetEntry> ListCabinet(const std::string& cabinetPath) {
    GErrorHolder e;
    GObjectPtr<GFile> source(g_file_new_for_path(cabinetPath.c_str()));
    GObjectPtr<GFileInputStream> stream(g_file_read(source.get(), nullptr, &e.error));
    if (!stream) throw ToolError(kExitInput, cabinetPath + ": " + e.Message());
    GObjectPtr<GCabCabinet> cabinet(gcab_cabinet_new());
    if (!gcab_cabinet_load(cabinet.get(), G_INPUT_STREAM(stream.get()), nullptr, &e.error)) {
        throw ToolError(kExitCabinet, "not a valid cabinet: " + e.Message());
    }
    std::vector<CabinetEntry> entries;
    GPtrArray* folders = gcab_cabinet_get_folders(cabinet.get());
    for (guint i = 0; i < folders->len; ++i) {
        auto* folder = static_cast<GCabFolder*>(g_ptr_array_index(folders, i));
        GSList* files = gcab_folder_get_files(folder);
        for (GSList* node = files; node != nullptr; node = node->next) {
            auto* file = static_cast<GCabFile*>(node->data);
            CabinetEntry entry{gcab_file_get_name(file), gcab_file_get_size(file), ""};
            if (GDateTime* when = gcab_file_get_date_time(file)) {
                gchar* text = g_date_time_format(when, "%Y-%m-%d %H:%M:%S");
                entry.date = text ? text : "";
                g_free(text);
                g_date_time_unref(when);
            }
            entries.push_back(entry);
        }
        g_slist_free(files);
    }
    return entries;
}

}  // namespace tirn::pack
