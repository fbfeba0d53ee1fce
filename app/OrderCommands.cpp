// The window's print order as a whole: saved as an order file, opened from
// one or from a card's print marks, copies per photograph, and the question
// before an unsaved order is closed.
#include "app/MainDialog.h"
#include "app/PipelineWrappers.h"

#include "browse/BrowseDialog.h"
#include "print/CardOrder.h"
#include "print/Dpof.h"
#include "print/OrderFile.h"
#include "print/PhotoFolder.h"
#include "platform/DeviceFs.h"
#include "platform/MessageBox.h"
#include "platform/Strings.h"
#include "platform/WaitCursor.h"

namespace {

// A photograph's size read for the order, with no line drawn on the window
// and no box for one that cannot be read (the order names those once).
class SilentProgress : public ProgressSink {
public:
    void PumpOneMessage() override {}
    void DrawProgress(int) override {}
};

class NoMessages {
public:
    NoMessages() : m_previous(SetMessageBoxHandler([](const MessageRequest&) { return 1; })) {}
    ~NoMessages() { SetMessageBoxHandler(m_previous); }
    NoMessages(const NoMessages&) = delete;
    NoMessages& operator=(const NoMessages&) = delete;

private:
    MessageBoxHandler m_previous;
};

// The upright size as the window reads the photograph; the smallest preview
// costs the least.
bool ReadPhotographSize(const std::wstring& path, CSize& size) {
    NoMessages quiet;
    SilentProgress progress;
    PreviewBuffer scratch;
    CSize box(8, 8);
    return LoadPreview(path, box, size, scratch, progress) != 0;
}

// Where the text would be saved when it has no file yet: any fixed path, as
// long as the same one is used for the comparison.
std::wstring OrderTextPath(const std::wstring& orderPath) {
    return orderPath.empty() ? std::wstring(L"\\") + DEFAULT_ORDER_FILE_NAME : orderPath;
}

}  // namespace

bool CMainDialog::IsTakenOut(const std::wstring& path) const { return m_takenOut.count(devfs::LowerName(path)) > 0; }

void CMainDialog::SetTakenOut(const std::wstring& path, bool out) {
    if (out) m_takenOut.insert(devfs::LowerName(path));
    else m_takenOut.erase(devfs::LowerName(path));
}

size_t CMainDialog::CurrentOrderIndex() const {
    return m_strSourcePath.empty() ? m_order.GetCount() : m_order.IndexOf(m_strSourcePath);
}

bool CMainDialog::OfferToSaveOrder() {
    KeepCurrentPhotograph();
    if (m_order.GetCount() < 2) return true;
    if (OrderFileText(m_order, OrderTextPath(m_strOrderPath)) == m_strSavedOrder) return true;
    const Answer answer = AskYesNoCancel(
        FormatW(L"The order of %zu photographs is not saved. Save it?", m_order.GetCount()), {}, this);
    if (answer == Answer::Cancel) return false;
    return answer == Answer::No || OnSaveOrder();
}

bool CMainDialog::OnSaveOrder() {
    if (m_bBusy) return false;
    KeepCurrentPhotograph();
    if (m_order.GetCount() == 0) {
        ShowMessageBox(L"Image not loaded", L"Warning", MessageIcon::None, this);
        return false;
    }
    CBrowseDialog browser(this);
    browser.m_nMode = BROWSE_FOLDER;
    browser.m_strTitle = L"Select folder for the order file";
    browser.m_strStartPath = m_strSourcePath.empty() ? FolderOfPath(m_strOrderPath) : FolderOfPath(m_strSourcePath);
    if (browser.DoModal() != IDOK) return false;
    // Saved again where it was saved or opened, the order keeps its name;
    // elsewhere it takes the usual one.
    const bool sameFolder =
        !m_strOrderPath.empty() && devfs::LowerName(FolderOfPath(m_strOrderPath)) == devfs::LowerName(browser.m_strPath);
    const std::wstring path = sameFolder ? m_strOrderPath : browser.m_strPath + DEFAULT_ORDER_FILE_NAME;
    if (!sameFolder) {
        std::vector<devfs::FindData> there;
        if (devfs::FindFiles(path, there) && !there.empty() &&
            AskYesNoCancel(FormatW(L"\"%ls\" already exists. Replace it?", path.c_str()), {}, this) != Answer::Yes)
            return false;
    }
    std::wstring error;
    if (!SaveOrderFile(m_order, path, error)) {
        ShowMessageBox(error, L"Warning", MessageIcon::Information, this);
        return false;
    }
    m_strOrderPath = path;
    m_strSavedOrder = OrderFileText(m_order, path);
    ShowNotice(FormatW(L"Order of %zu saved as ", m_order.GetCount()) + FromUtf8(devfs::ToHostPath(path)));
    return true;
}

void CMainDialog::OpenOrder(const std::wstring& path) {
    if (m_bBusy || !OfferToSaveOrder()) return;
    PrintOrder order;
    std::wstring error, leftOut;
    std::string savedText;
    {
        CWaitCursor wait;
        if (IsPrintMarksPath(path)) {
            DpofMarks marks;
            if (ReadDpofMarks(path, marks, error)) {
                // What a photograph gets on its own: the frame fitted in the
                // format, turn and curve in force.
                leftOut = OrderFromMarks(
                    marks,
                    [this](const std::wstring& photo, PhotoSettings& settings) {
                        CSize size;
                        if (!ReadPhotographSize(photo, size)) return false;
                        settings = PhotoSettings{};
                        static_cast<PrintChoice&>(settings) = m_choice;
                        settings.sizeSource = size;
                        settings.rcSource = FitSourceRect(size.cx, size.cy, GetFrameWidthCm(), GetFrameHeightCm());
                        return true;
                    },
                    order);
                if (!marks.notes.empty()) leftOut = marks.notes + (leftOut.empty() ? L"" : L"\n" + leftOut);
            }
        } else if (LoadOrderFile(path, order, error)) {
            savedText = OrderFileText(order, path);
            leftOut = LeaveOutChangedPhotographs(order, ReadPhotographSize);
        }
    }
    if (!error.empty()) {
        ShowMessageBox(error, L"Warning", MessageIcon::Information, this);
        return;
    }
    if (order.GetCount() == 0) {
        ShowMessageBox(leftOut.empty() ? L"The order holds no photograph" : leftOut, L"Warning",
                       MessageIcon::Information, this);
        return;
    }
    // The new order replaces the sitting: the photograph on the screen is
    // not kept into it on the way.
    order.m_strLastFolder = m_order.m_strLastFolder;
    m_order = std::move(order);
    m_strOrderPath = IsPrintMarksPath(path) ? std::wstring() : path;
    m_strSavedOrder = savedText;
    m_takenOut.clear();
    m_bLoaded = FALSE;
    m_strSourcePath.clear();
    OpenPhotograph(m_order.GetPath(0));
    ShowNotice(FormatW(L"Order of %zu opened: ", m_order.GetCount()) + FromUtf8(devfs::ToHostPath(path)));
    if (!leftOut.empty()) ShowMessageBox(leftOut, L"Warning", MessageIcon::Information, this);
}

void CMainDialog::OnChangeCopies(int delta) {
    if (m_bBusy || !m_bLoaded || m_strSourcePath.empty()) return;
    KeepCurrentPhotograph();
    const size_t i = CurrentOrderIndex();
    if (i == m_order.GetCount()) {
        // Taken out before: a + brings it back with one print.
        if (delta <= 0) return;
        SetTakenOut(m_strSourcePath, false);
        KeepCurrentPhotograph();
        ShowNotice(NameOfPath(m_strSourcePath) + L" is back in the order");
    } else {
        const int copies = std::min(m_order.GetCopies(i) + delta, MAX_COPIES);
        if (copies <= 0) {
            m_order.Remove(i);
            SetTakenOut(m_strSourcePath, true);
            ShowNotice(NameOfPath(m_strSourcePath) + L" is out of the order");
        } else {
            m_order.SetCopies(i, copies);
        }
    }
    ShowResolution();
}

void CMainDialog::OnCardOrder() {
    if (!OrderReadyToWrite()) return;
    CBrowseDialog browser(this);
    browser.m_nMode = BROWSE_FOLDER;
    browser.m_strTitle = L"Select the card for the kiosk";
    browser.m_strStartPath = m_strLastCard;
    if (browser.DoModal() != IDOK) return;
    const std::wstring card = m_strLastCard = browser.m_strPath;

    CardPlan plan;
    std::wstring error;
    if (!PlanCard(card, m_order.GetCount(), plan, error)) {
        ShowMessageBox(error, L"Warning", MessageIcon::Information, this);
        return;
    }
    // A camera's marks, or an order left for the kiosk earlier, go only
    // when the user says so.
    if (plan.hasMarks &&
        AskYesNo(FormatW(L"The card already has print marks (%ls).\nReplace them with this order?",
                         plan.marksPath.c_str()),
                 {}, this) != Answer::Yes) {
        ShowNotice(L"The card is left as it was");
        return;
    }
    std::vector<OrderResult> results;
    WriteOrderQuietly([&](const std::function<void(size_t, size_t)>& onPhotograph) {
        WriteOrderOntoCard(m_order, card, plan.hasMarks, m_formats, *this, onPhotograph, plan, results, error);
    });
    if (results.empty()) {
        ShowMessageBox(error, L"Warning", MessageIcon::Information, this);
        return;
    }
    ShowOrderMessage(CardOrderMessage(m_order, results, plan, error), results,
                     !error.empty() || !MixedFormatsWarning(m_order).empty());
}
