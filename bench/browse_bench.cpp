// How fast the storage browser opens a big folder: a camera folder of 10,000
// JPEG files, tapped in the real dialog (read, sorted, shown and painted),
// against the plain listing of the same folder and the tree logic alone; and
// what a step to the next photograph of that folder reads.
//
//   build/bench/browse_bench --benchmark_counters_tabular=true
//
// The target: the tap-to-painted time stays well under a second.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>

#include "print/PhotoFolder.h"
#include "browse/BrowseDialog.h"
#include "platform/MessageBox.h"
#include "tests/browse/FakeTree.h"

namespace {

constexpr int FILES = 10000;

// The device: \DCIM\ holding FILES JPEG files (upper-case names, as cameras
// write them) made in shuffled order, so the listing comes unsorted.
struct BigFolder {
    std::string root;
    BigFolder() {
        char pattern[] = "/tmp/trimora-bench-XXXXXX";
        root = mkdtemp(pattern);
        std::filesystem::create_directories(root + "/DCIM");
        std::vector<int> order(FILES);
        for (int i = 0; i < FILES; ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), std::mt19937(136));
        for (int i : order) {
            char name[64];
            std::snprintf(name, sizeof name, "/DCIM/IMG_%05d.JPG", i);
            int fd = open((root + name).c_str(), O_CREAT | O_WRONLY, 0644);
            if (fd >= 0) close(fd);
        }
        devfs::SetStorageRoot(root);
    }
    ~BigFolder() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
};

BigFolder& Device() {
    static BigFolder folder;
    return folder;
}

void BM_ListFolder(benchmark::State& state) {
    Device();
    std::vector<devfs::FindData> found;
    for (auto _ : state) {
        devfs::FindFiles(L"\\DCIM\\*.*", found);
        benchmark::DoNotOptimize(found.data());
    }
    state.counters["entries"] = static_cast<double>(found.size());
}
BENCHMARK(BM_ListFolder)->Unit(benchmark::kMillisecond);

void BM_TreeLogicOnly(benchmark::State& state) {
    Device();
    size_t items = 0;
    for (auto _ : state) {
        FakeTree tree;
        std::wstring folder;
        HTREEITEM root = InitBrowseTree(tree, folder);
        HTREEITEM dcim = tree.Find(root, L"DCIM");
        tree.Select(dcim);
        ReadOnSelection(tree, dcim, folder);
        items = tree.Count();
    }
    state.counters["items"] = static_cast<double>(items);
}
BENCHMARK(BM_TreeLogicOnly)->Unit(benchmark::kMillisecond);

// What Page Down reads before it decodes anything: the photograph's place in
// its folder of 10,000 and the ones after it (twice per step, with the title).
void BM_PagePlaceInBigFolder(benchmark::State& state) {
    Device();
    size_t after = 0;
    for (auto _ : state) {
        const FolderPlace place = LocatePhotograph(L"\\DCIM\\img_05000.jpg");
        after = NeighbourPhotographs(place, 1).size();
        benchmark::DoNotOptimize(after);
    }
    state.counters["after"] = static_cast<double>(after);
}
BENCHMARK(BM_PagePlaceInBigFolder)->Unit(benchmark::kMillisecond);

// The real dialog: from the tap on DCIM until its 10,000 items are painted.
void BM_DialogTapBigFolder(benchmark::State& state) {
    Device();
    auto previous = SetMessageBoxHandler([](const MessageRequest&) { return 1; });
    int shown = 0;
    for (auto _ : state) {
        CBrowseDialog dlg;
        dlg.m_nMode = BROWSE_FILE;
        dlg.m_strTitle = L"Select source file";
        double seconds = 0;
        std::function<void()> poll = [&] {
            if (!QApplication::activeModalWidget() || !dlg.IsRunning()) {
                QTimer::singleShot(1, poll);
                return;
            }
            QTreeWidget* tree = dlg.m_tree.Tree();
            QTreeWidgetItem* dcim = tree->topLevelItem(0)->child(0);
            QApplication::processEvents();
            QElapsedTimer timer;
            timer.start();
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(dcim).center());
            tree->viewport()->repaint();
            seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
            shown = dcim->childCount();
            dlg.EndDialog(IDCANCEL);
        };
        QTimer::singleShot(0, poll);
        dlg.DoModal();
        state.SetIterationTime(seconds);
    }
    state.counters["items"] = shown;
    SetMessageBoxHandler(previous);
}
BENCHMARK(BM_DialogTapBigFolder)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
