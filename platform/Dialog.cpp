#include "platform/Dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QAbstractItemView>
#include <QStyle>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>

#include "platform/Resources.h"

// ---------------------------------------------------------------- CWnd

namespace {
// A static picture that reports a tap, the way the handheld's notify style did.
class PictureStatic : public QLabel {
public:
    std::function<void()> onTap;
    using QLabel::QLabel;

protected:
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton && onTap) {
            e->accept();
            onTap();
            return;
        }
        QLabel::mousePressEvent(e);
    }
};
// A drop-down list whose opened list is wide enough for its longest entry,
// whatever the style does on its own (some keep it to the box's width), and
// no wider than the screen.
class DropDownList : public QComboBox {
public:
    using QComboBox::QComboBox;

    void showPopup() override {
        QAbstractItemView* list = view();
        int wanted = list->sizeHintForColumn(0) + 2 * list->frameWidth() + 8;
        if (count() > maxVisibleItems()) wanted += style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
        if (QScreen* s = screen()) wanted = std::min(wanted, s->availableGeometry().width());
        list->setMinimumWidth(std::max(wanted, width()));
        QComboBox::showPopup();
    }
};
}  // namespace

CRect CWnd::GetClientRect() const {
    if (!m_pWidget) return {};
    return {0, 0, m_pWidget->width(), m_pWidget->height()};
}

CRect CWnd::GetWindowRect() const {
    if (!m_pWidget) return {};
    // The handheld's full-screen dialogs had no border of their own; what a
    // desktop window manager adds around a window is not the program's.
    const QPoint tl = m_pWidget->mapToGlobal(QPoint(0, 0));
    return {tl.x(), tl.y(), tl.x() + m_pWidget->width(), tl.y() + m_pWidget->height()};
}

void CWnd::ScreenToClient(CRect& r) const {
    if (!m_pWidget) return;
    const QPoint o = m_pWidget->mapToGlobal(QPoint(0, 0));
    r.OffsetRect(-o.x(), -o.y());
}

void CWnd::ClientToScreen(CRect& r) const {
    if (!m_pWidget) return;
    const QPoint o = m_pWidget->mapToGlobal(QPoint(0, 0));
    r.OffsetRect(o.x(), o.y());
}

void CWnd::MoveWindow(int x, int y, int cx, int cy) {
    if (m_pWidget) m_pWidget->setGeometry(x, y, cx, cy);
}
void CWnd::ShowWindow(bool show) {
    if (m_pWidget) m_pWidget->setVisible(show);
}
void CWnd::EnableWindow(bool enable) {
    if (m_pWidget) m_pWidget->setEnabled(enable);
}
void CWnd::SetFocus() {
    if (m_pWidget) m_pWidget->setFocus(Qt::OtherFocusReason);
}

void CWnd::SetWindowText(const std::wstring& text) {
    if (!m_pWidget) return;
    const QString t = QString::fromStdWString(text);
    if (m_pWidget->isWindow()) m_pWidget->setWindowTitle(t);
    else if (auto* l = qobject_cast<QLabel*>(m_pWidget)) l->setText(t);
    else if (auto* b = qobject_cast<QAbstractButton*>(m_pWidget)) b->setText(t);
    else if (auto* g = qobject_cast<QGroupBox*>(m_pWidget)) g->setTitle(t);
    else if (auto* e = qobject_cast<QPlainTextEdit*>(m_pWidget)) e->setPlainText(t);
}

std::wstring CWnd::GetWindowText() const {
    if (!m_pWidget) return {};
    if (m_pWidget->isWindow()) return m_pWidget->windowTitle().toStdWString();
    if (auto* l = qobject_cast<QLabel*>(m_pWidget)) return l->text().toStdWString();
    if (auto* b = qobject_cast<QAbstractButton*>(m_pWidget)) return b->text().toStdWString();
    if (auto* g = qobject_cast<QGroupBox*>(m_pWidget)) return g->title().toStdWString();
    if (auto* e = qobject_cast<QPlainTextEdit*>(m_pWidget)) return e->toPlainText().toStdWString();
    if (auto* c = qobject_cast<QComboBox*>(m_pWidget)) return c->currentText().toStdWString();
    return {};
}

void CWnd::Invalidate() {
    if (m_pWidget) m_pWidget->update();
}
void CWnd::UpdateWindow() {
    if (m_pWidget) m_pWidget->repaint();
}

// ---------------------------------------------------------------- controls

QComboBox* CComboBox::Combo() const { return qobject_cast<QComboBox*>(m_pWidget.data()); }

int CComboBox::AddString(const std::wstring& text) {
    QComboBox* c = Combo();
    if (!c) return -1;
    c->addItem(QString::fromStdWString(text));
    return c->count() - 1;
}
int CComboBox::GetCount() const { return Combo() ? Combo()->count() : 0; }
int CComboBox::GetCurSel() const { return Combo() ? Combo()->currentIndex() : -1; }
int CComboBox::SetCurSel(int index) {
    QComboBox* c = Combo();
    if (!c || index < -1 || index >= c->count()) return -1;
    const QSignalBlocker quiet(c);  // a programmatic change is not a user's pick
    c->setCurrentIndex(index);
    return index;
}
intptr_t CComboBox::GetItemData(int index) const {
    QComboBox* c = Combo();
    if (!c || index < 0 || index >= c->count()) return -1;
    return static_cast<intptr_t>(c->itemData(index).toLongLong());
}
int CComboBox::SetItemData(int index, intptr_t data) {
    QComboBox* c = Combo();
    if (!c || index < 0 || index >= c->count()) return -1;
    c->setItemData(index, QVariant::fromValue<qlonglong>(data));
    return 0;
}
std::wstring CComboBox::GetLBText(int index) const {
    QComboBox* c = Combo();
    if (!c || index < 0 || index >= c->count()) return {};
    return c->itemText(index).toStdWString();
}
void CComboBox::ResetContent() {
    if (Combo()) Combo()->clear();
}

int CButton::GetCheck() const {
    auto* b = qobject_cast<QAbstractButton*>(m_pWidget.data());
    return b && b->isChecked() ? 1 : 0;
}
void CButton::SetCheck(int state) {
    if (auto* b = qobject_cast<QAbstractButton*>(m_pWidget.data())) {
        const QSignalBlocker quiet(b);
        b->setChecked(state != 0);
    }
}

// ---------------------------------------------------------------- data exchange

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (!control.IsAttached()) control.Attach(pDX->m_pDlgWnd->GetDlgItemWidget(id));
}

void DDX_Check(CDataExchange* pDX, int id, BOOL& value) {
    auto* b = qobject_cast<QAbstractButton*>(pDX->m_pDlgWnd->GetDlgItemWidget(id));
    if (!b) return;
    if (pDX->m_bSaveAndValidate) {
        value = b->isChecked() ? TRUE : FALSE;
    } else {
        const QSignalBlocker quiet(b);
        b->setChecked(value != FALSE);
    }
}

void DDX_Text(CDataExchange* pDX, int id, std::wstring& value) {
    CWnd w(pDX->m_pDlgWnd->GetDlgItemWidget(id));
    if (!w.IsAttached()) return;
    if (pDX->m_bSaveAndValidate) value = w.GetWindowText();
    else w.SetWindowText(value);
}

void DDX_CBIndex(CDataExchange* pDX, int id, int32_t& index) {
    CComboBox combo;
    combo.Attach(pDX->m_pDlgWnd->GetDlgItemWidget(id));
    if (!combo.IsAttached()) return;
    if (pDX->m_bSaveAndValidate)
        index = combo.GetCurSel();
    else
        combo.SetCurSel(index);
}

// ---------------------------------------------------------------- the window

class DialogWindow : public QDialog {
public:
    DialogWindow(CDialog* owner, QWidget* parent) : QDialog(parent), m_owner(owner) {
        setAttribute(Qt::WA_OpaquePaintEvent, false);
    }

    void accept() override { m_owner->Route(IDOK, BN_CLICKED); }
    void reject() override { m_owner->Route(IDCANCEL, BN_CLICKED); }

protected:
    void paintEvent(QPaintEvent*) override {
        CDialog& d = *m_owner;
        const QSize sz = size();
        const bool resized = !d.m_surface || d.m_surface->size() != sz;
        if (resized) {
            d.m_surface = std::make_unique<QImage>(sz, QImage::Format_RGB32);
        }
        if (resized || d.m_bFullPaint || !d.m_bBlitOnly) {
            d.m_bFullPaint = false;
            d.m_surface->fill(palette().color(QPalette::Window));
            QPainter p(d.m_surface.get());
            d.OnPaint(p);
        }
        d.m_bBlitOnly = false;
        QPainter w(this);
        w.drawImage(0, 0, *d.m_surface);
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) m_owner->OnLButtonDown(1, {int(e->position().x()), int(e->position().y())});
        QDialog::mousePressEvent(e);
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        m_owner->OnMouseMove(e->buttons() & Qt::LeftButton ? 1 : 0, {int(e->position().x()), int(e->position().y())});
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) m_owner->OnLButtonUp(0, {int(e->position().x()), int(e->position().y())});
    }
    void keyPressEvent(QKeyEvent* e) override {
        // Enter is the OK command and Escape the cancel command, wherever
        // the focus is; neither closes the window by itself.
        switch (e->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter: m_owner->Route(IDOK, BN_CLICKED); e->accept(); return;
        case Qt::Key_Escape: m_owner->Route(IDCANCEL, BN_CLICKED); e->accept(); return;
        default: QDialog::keyPressEvent(e);
        }
    }
    void closeEvent(QCloseEvent* e) override {
        // The close box is the cancel command; the handler decides.
        e->ignore();
        if (m_owner->IsRunning()) m_owner->Route(IDCANCEL, BN_CLICKED);
    }
    void resizeEvent(QResizeEvent* e) override {
        QDialog::resizeEvent(e);
        m_owner->OnShowLayout();
    }

private:
    CDialog* m_owner;
};

namespace {
// Offers key presses to the active dialog before the focused control sees
// them, as message pre-translation did.
class PreTranslateFilter : public QObject {
public:
    explicit PreTranslateFilter(CDialog* dialog) : m_dialog(dialog) {}
    bool eventFilter(QObject* target, QEvent* event) override {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) return false;
        QDialog* w = m_dialog->DialogWidget();
        if (!w || QApplication::activeModalWidget() != w) return false;
        auto* widget = qobject_cast<QWidget*>(target);
        if (!widget || (widget != w && !w->isAncestorOf(widget))) return false;
        if (CWinApp* app = CWinApp::Current())
            if (app->m_pMainWnd == m_dialog) return app->PreTranslate(target, event);
        return m_dialog->PreTranslateMessage(target, event) != FALSE;
    }

private:
    CDialog* m_dialog;
};
}  // namespace

// ---------------------------------------------------------------- CDialog

CDialog::CDialog(const DialogTemplate& tmpl, CWnd* parent) : m_template(tmpl), m_pParent(parent) {}

CDialog::~CDialog() {
    if (m_pFilter) {
        qApp->removeEventFilter(m_pFilter);
        delete m_pFilter;
    }
}

QDialog* CDialog::DialogWidget() const { return m_dialog.get(); }

CRect CDialog::MapDialogRect(const CRect& d) const {
    auto mx = [&](int v) { return (v * m_baseX + 2) / 4; };
    auto my = [&](int v) { return (v * m_baseY + 4) / 8; };
    return {mx(d.left), my(d.top), mx(d.right), my(d.bottom)};
}

void CDialog::Build() {
    QWidget* parentWidget = m_pParent ? m_pParent->Widget() : nullptr;
    m_dialog = std::make_unique<DialogWindow>(this, parentWidget);
    QDialog* dlg = m_dialog.get();
    Attach(dlg);
    dlg->setWindowTitle(QString::fromStdWString(m_template.caption));
    dlg->setModal(true);

    // "System" has no meaning here; the desktop's sans font at the template's
    // size stands in, and its metrics give the dialog units.
    QFont font = QApplication::font();
    font.setPointSize(m_template.fontPoints);
    dlg->setFont(font);
    const QFontMetrics fm(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_baseX = (fm.horizontalAdvance(alphabet) / 26 + 1) / 2;
    m_baseY = fm.height();
    // On a screen narrower than the template the font shrinks until the
    // dialog fits, as the handheld's small system font made it fit.
    if (QScreen* screen = QApplication::primaryScreen()) {
        const QSize avail = screen->size();
        for (int px = fm.height(); px > 6; --px) {
            if ((m_template.cx * m_baseX) / 4 <= avail.width() && (m_template.cy * m_baseY) / 8 <= avail.height())
                break;
            font.setPixelSize(px - 3);
            const QFontMetrics smaller(font);
            m_baseX = (smaller.horizontalAdvance(alphabet) / 26 + 1) / 2;
            m_baseY = smaller.height();
        }
        dlg->setFont(font);
    }
    const CRect size = MapDialogRect({0, 0, m_template.cx, m_template.cy});
    dlg->resize(size.right, size.bottom);

    for (const ControlTemplate& c : m_template.controls) {
        const CRect r = MapDialogRect({c.x, c.y, c.x + c.cx, c.y + c.cy});
        const QString text = QString::fromStdWString(c.text);
        QWidget* w = nullptr;
        const int id = c.id;
        switch (c.kind) {
        case ControlKind::StaticText: {
            auto* l = new QLabel(text, dlg);
            l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            w = l;
            break;
        }
        case ControlKind::Picture: {
            auto* l = new PictureStatic(dlg);
            const QPixmap pm = LoadBitmapResource(c.bitmapId);
            if (!pm.isNull()) l->setPixmap(pm);
            l->setAlignment(Qt::AlignCenter);
            if (c.style & WS_BORDER_) l->setFrameStyle(QFrame::Box | QFrame::Plain);
            if (c.style & SS_NOTIFY_) l->onTap = [this, id] { Route(id, STN_CLICKED); };
            w = l;
            break;
        }
        case ControlKind::CheckBox: {
            auto* b = new QCheckBox(text, dlg);
            QObject::connect(b, &QCheckBox::clicked, dlg, [this, id] { Route(id, BN_CLICKED); });
            w = b;
            break;
        }
        case ControlKind::ComboBox: {
            auto* cb = new DropDownList(dlg);
            cb->setEditable(false);
            cb->setMaxVisibleItems(std::max(3, (r.Height() - m_baseY) / std::max(1, m_baseY)));
            QObject::connect(cb, &QComboBox::activated, dlg, [this, id](int) { Route(id, CBN_SELCHANGE); });
            w = cb;
            break;
        }
        case ControlKind::PushButton:
        case ControlKind::DefPushButton: {
            auto* b = new QPushButton(text, dlg);
            b->setAutoDefault(false);
            b->setDefault(false);
            QObject::connect(b, &QPushButton::clicked, dlg, [this, id] { Route(id, BN_CLICKED); });
            w = b;
            break;
        }
        case ControlKind::GroupBox: w = new QGroupBox(text, dlg); break;
        case ControlKind::TreeView: {
            auto* t = new QTreeWidget(dlg);
            t->setHeaderHidden(true);
            t->setColumnCount(1);
            QObject::connect(t, &QTreeWidget::currentItemChanged, dlg,
                             [this, id](QTreeWidgetItem*, QTreeWidgetItem*) { Route(id, TVN_SELCHANGED); });
            QObject::connect(t, &QTreeWidget::itemExpanded, dlg,
                             [this, id](QTreeWidgetItem*) { Route(id, TVN_ITEMEXPANDING); });
            // What a double-click does is the dialog's to say.
            t->setExpandsOnDoubleClick(false);
            QObject::connect(t, &QTreeWidget::itemDoubleClicked, dlg,
                             [this, id](QTreeWidgetItem*, int) { Route(id, NM_DBLCLK); });
            w = t;
            break;
        }
        case ControlKind::Edit: {
            auto* e = new QPlainTextEdit(text, dlg);
            e->setReadOnly(true);
            w = e;
            break;
        }
        }
        if (!w) continue;
        // The combo box's height in the template includes its open list.
        const int h = c.kind == ControlKind::ComboBox ? std::max(w->sizeHint().height(), MapDialogRect({0, 0, 0, 12}).bottom)
                                                      : r.Height();
        w->setGeometry(r.left, r.top, r.Width(), h);
        w->setFocusPolicy((c.style & WS_TABSTOP_) ? Qt::StrongFocus : Qt::NoFocus);
        if (c.kind == ControlKind::Picture) w->setFocusPolicy(Qt::NoFocus);
        w->setVisible((c.style & WS_VISIBLE_) != 0);
        if (id != -1) m_items[id].Attach(w);
        w->setProperty("trimoraId", id);
    }
}

QWidget* CDialog::GetDlgItemWidget(int id) const {
    auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second.Widget();
}

CWnd* CDialog::GetDlgItem(int id) {
    auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : &it->second;
}

void CDialog::CheckDlgButton(int id, int state) {
    if (auto* b = qobject_cast<QAbstractButton*>(GetDlgItemWidget(id))) {
        const QSignalBlocker quiet(b);
        b->setChecked(state != 0);
    }
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::CenterWindow() {
    if (!m_dialog) return;
    QScreen* screen = m_dialog->screen() ? m_dialog->screen() : QApplication::primaryScreen();
    if (!screen) return;
    const QRect s = screen->geometry();
    m_dialog->move(s.left() + (s.width() - m_dialog->width()) / 2, s.top() + (s.height() - m_dialog->height()) / 2);
}

void CDialog::SetIcon(const QPixmap& icon, BOOL) {
    if (m_dialog && !icon.isNull()) m_dialog->setWindowIcon(QIcon(icon));
}

intptr_t CDialog::DoModal() {
    Build();
    m_result = IDCANCEL;
    m_bRunning = true;
    if (!m_pFilter) {
        m_pFilter = new PreTranslateFilter(this);
        qApp->installEventFilter(m_pFilter);
    }
    if (OnInitDialog()) {
        // The first control that takes the focus gets it, as the framework did.
        for (const ControlTemplate& c : m_template.controls) {
            QWidget* w = GetDlgItemWidget(c.id);
            if (w && !w->isHidden() && w->focusPolicy() != Qt::NoFocus) {
                w->setFocus(Qt::TabFocusReason);
                break;
            }
        }
    }
    // OnInitDialog may already have ended the dialog.
    if (m_bRunning) m_dialog->exec();
    m_bRunning = false;
    qApp->removeEventFilter(m_pFilter);
    delete m_pFilter;
    m_pFilter = nullptr;
    OnDestroy();
    m_dialog.reset();
    m_items.clear();
    m_surface.reset();
    Attach(nullptr);
    return m_result;
}

void CDialog::EndDialog(int result) {
    m_result = result;
    m_bRunning = false;
    if (m_dialog) m_dialog->done(result);
}

void CDialog::MapCommand(int id, std::function<void()> handler) { m_map[{id, BN_CLICKED}] = std::move(handler); }

void CDialog::MapNotify(int id, int code, std::function<void()> handler) { m_map[{id, code}] = std::move(handler); }

void CDialog::SendCommand(int id, int code) { Route(id, code); }

void CDialog::Route(int id, int code) {
    auto it = m_map.find({id, code});
    if (it != m_map.end()) {
        // Copy: the handler may run a nested loop in which the map changes.
        auto handler = it->second;
        handler();
        return;
    }
    if (code == BN_CLICKED && id == IDOK) OnOK();
    else if (code == BN_CLICKED && id == IDCANCEL) OnCancel();
}

BOOL CDialog::TranslateAccelerator(QObject*, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) return FALSE;
    auto* key = static_cast<QKeyEvent*>(event);
    const int held =
        key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier);
    for (const Accelerator& a : m_accel) {
        if (a.key != key->key() || a.modifiers != held) continue;
        // A shortcut override only claims the key so that it comes back as a
        // key press; the command runs once, on the press.
        if (event->type() == QEvent::ShortcutOverride) {
            event->accept();
            return TRUE;
        }
        Route(a.command, BN_CLICKED);
        return TRUE;
    }
    return FALSE;
}

BOOL CDialog::PreTranslateMessage(QObject*, QEvent*) { return FALSE; }

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }
void CDialog::DoDataExchange(CDataExchange*) {}
void CDialog::OnPaint(QPainter&) {}
void CDialog::OnLButtonDown(unsigned, CPoint) {}
void CDialog::OnMouseMove(unsigned, CPoint) {}
void CDialog::OnLButtonUp(unsigned, CPoint) {}
void CDialog::OnDestroy() {}

void CDialog::DrawOnClient(const std::function<void(QPainter&)>& draw) {
    if (!m_dialog) return;
    const QSize sz = m_dialog->size();
    if (!m_surface || m_surface->size() != sz) {
        // Nothing painted yet at this size: paint the window first.
        m_bBlitOnly = false;
        m_dialog->repaint();
        if (!m_surface) return;
    }
    {
        QPainter p(m_surface.get());
        draw(p);
    }
    m_bBlitOnly = true;
    m_dialog->update();
}

void CDialog::Invalidate() {
    m_bFullPaint = true;
    CWnd::Invalidate();
}

QImage CDialog::GrabClient() const {
    if (!m_dialog) return {};
    // What the screen shows now: the surface as it is, not a fresh paint.
    auto* self = const_cast<CDialog*>(this);
    const bool blit = self->m_bBlitOnly;
    self->m_bBlitOnly = m_surface != nullptr;
    QImage shot = m_dialog->grab().toImage();
    self->m_bBlitOnly = blit;
    return shot;
}

// ---------------------------------------------------------------- CWinApp

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp() { g_app = this; }
CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}
CWinApp* CWinApp::Current() { return g_app; }

int CWinApp::Run(int& argc, char** argv) {
    if (!QApplication::instance()) m_app = std::make_unique<QApplication>(argc, argv);
    InstallGuiPlatformHooks();
    InitInstance();
    // The application object is a global, so its members would die in the
    // exit handlers after main, when Qt's own globals are already gone:
    // QApplication must go while the program is still running.
    m_app.reset();
    return 0;
}

bool CWinApp::PreTranslate(QObject* target, QEvent* event) {
    auto* dlg = dynamic_cast<CDialog*>(m_pMainWnd);
    return dlg && dlg->PreTranslateMessage(target, event);
}

void CWinApp::OnIdle(long) { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
