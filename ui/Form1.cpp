#include "ui/Form1.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <initializer_list>
#include <limits>

#include "runtime/Exceptions.h"
#include "ui/MessageBoxes.h"

namespace {

const char* const Caption = "ЛОРНИК журнал действий пользователя";
const char* const SpeedEntries[] = {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};

QString Q(const std::string& Text)
{
    return QString::fromStdString(Text);
}

std::string S(const QString& Text)
{
    return Text.toStdString();
}

QLabel* MakeLabel(QWidget* Parent, const char* Text, int Left, int Top)
{
    auto* label = new QLabel(QString::fromUtf8(Text), Parent);
    label->move(Left, Top);
    label->adjustSize(); // labels are as wide as their captions
    return label;
}

QLineEdit* MakeEdit(QWidget* Parent, int Left, int Top, int Width)
{
    auto* edit = new QLineEdit(Parent);
    edit->setGeometry(Left, Top, Width, 21);
    edit->setMaxLength(std::numeric_limits<int>::max()); // any text of any length
    return edit;
}

QPushButton* MakeButton(QWidget* Parent, const char* Text, int Left, int Top, int Width, int Height)
{
    auto* button = new QPushButton(QString::fromUtf8(Text), Parent);
    button->setGeometry(Left, Top, Width, Height);
    // Enter and Esc click nothing.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QComboBox* MakeList(QWidget* Parent, int Left, int Top)
{
    auto* list = new QComboBox(Parent);
    list->setGeometry(Left, Top, 97, 21);
    list->setEditable(false);
    list->setMaxVisibleItems(8);
    return list;
}

// A label and the x at which the control to its right begins (or the edge
// of its parent).
struct TLabelRoom {
    QLabel* Label;
    int RightLimit;
};

// The label's box must end by its limit, and its ink one pixel before,
// so that the caption never touches its neighbour's frame.
bool CaptionFits(const QFontMetrics& Metrics, const TLabelRoom& Room)
{
    const QString caption = Room.Label->text();
    const QRect box = Metrics.boundingRect(QRect(0, 0, 2000, 2000), Qt::AlignLeft | Qt::AlignVCenter, caption);
    const int lastInked = Room.Label->x() + Metrics.tightBoundingRect(caption).right();
    return Room.Label->x() + box.width() <= Room.RightLimit && lastInked < Room.RightLimit - 1;
}

bool CaptionsFit(const QFont& Font, std::initializer_list<TLabelRoom> Rooms)
{
    const QFontMetrics metrics(Font);
    return std::ranges::all_of(Rooms, [&](const TLabelRoom& Room) { return CaptionFits(metrics, Room); });
}

// The layout is made for Tahoma's narrow captions. When the face found is
// wider and no narrower one is installed (only DejaVu Sans, say), the face
// is drawn condensed just enough that no label runs under its neighbour.
QFont FittedFont(QFont Font, std::initializer_list<TLabelRoom> Rooms)
{
    constexpr int NarrowestStretch = QFont::Condensed;
    if (CaptionsFit(Font, Rooms)) return Font;
    for (int stretch = QFont::Unstretched - 1; stretch > NarrowestStretch; --stretch) {
        Font.setStretch(stretch);
        if (CaptionsFit(Font, Rooms)) return Font;
    }
    Font.setStretch(NarrowestStretch);
    return Font;
}

// A log sheet over a meter's display.
QIcon ProgramIcon()
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x1F, 0x4E, 0x79));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(4, 4, 56, 56, 8, 8);
    p.setBrush(Qt::white);
    p.drawRect(16, 12, 32, 40);
    p.setPen(QPen(QColor(0x1F, 0x4E, 0x79), 3));
    for (int y = 20; y <= 44; y += 8) p.drawLine(21, y, 43, y);
    return QIcon(pixmap);
}

} // namespace

TForm1::TForm1(std::filesystem::path SysRoot, std::filesystem::path DevRoot)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      FSysRoot(std::move(SysRoot)),
      FDevRoot(std::move(DevRoot))
{
    BuildControls();
    WireHandlers();
}

TForm1::~TForm1()
{
    // The port's handlers reach the controller, which goes before the port.
    ComPort1.OnRxChar = nullptr;
    RunGuarded([this] { ComPort1.Close(); });
    Arch->setModel(nullptr);
}

void TForm1::BuildControls()
{
    setWindowTitle(QString::fromUtf8(Caption));
    setWindowIcon(ProgramIcon());
    // Tahoma where it is installed, else a face whose captions fit the
    // layout: the faces as wide as Arial, then DejaVu Sans Condensed before
    // the wider DejaVu Sans.
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("DejaVu Sans")});
    font.setPixelSize(11);
    setFont(font);
    setFixedSize(521, 461);

    Con_setting = new QGroupBox(QString::fromUtf8("Настройки связи"), this);
    Con_setting->setGeometry(0, 8, 225, 97);
    Com_str = MakeLabel(Con_setting, "Номер COM-порта", 16, 19);
    Speed_str = MakeLabel(Con_setting, "Скорость", 16, 70);
    Com = MakeList(Con_setting, 113, 16);
    Speed = MakeList(Con_setting, 113, 67);
    for (const char* entry : SpeedEntries) Speed->addItem(QString::fromLatin1(entry));
    Speed->setCurrentIndex(-1);
    Adder = MakeEdit(Con_setting, 113, 42, 97);
    Label4 = MakeLabel(Con_setting, "Адрес", 16, 45);

    Disconnect = MakeButton(this, "Отключение", 121, 111, 89, 26);
    Connect = MakeButton(this, "Подключение", 18, 111, 97, 26);
    Version = MakeEdit(this, 240, 16, 113);
    Version->setEnabled(false);
    Index = MakeEdit(this, 328, 48, 81);
    Count = MakeEdit(this, 328, 75, 81);
    Index_str = MakeLabel(this, "Индекс", 240, 51);
    Count_str = MakeLabel(this, "Количество", 240, 78);
    Start = MakeButton(this, "Старт", 240, 111, 75, 25);
    Stop = MakeButton(this, "Стоп", 334, 111, 75, 25);

    Arch = new QTableView(this);
    Arch->setGeometry(16, 172, 505, 289);
    Arch->setModel(&FGrid);
    Arch->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Arch->setSelectionMode(QAbstractItemView::ContiguousSelection);
    Arch->setSelectionBehavior(QAbstractItemView::SelectItems);
    Arch->setShowGrid(true);
    Arch->setWordWrap(false);
    Arch->setTabKeyNavigation(false); // Tab goes on to Save
    Arch->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Arch->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Arch->verticalHeader()->hide();
    Arch->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Arch->verticalHeader()->setDefaultSectionSize(24);
    Arch->verticalHeader()->setMinimumSectionSize(24);
    QHeaderView* header = Arch->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setSectionsMovable(false);
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setFixedHeight(24);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Arch->setColumnWidth(0, 68);
    Arch->setColumnWidth(1, 414);

    Serial = MakeEdit(this, 359, 16, 88);
    Serial->setEnabled(false);
    Version_str = MakeLabel(this, "Версия:", 240, 0);
    Serial_str = MakeLabel(this, "Серийный номер:", 359, 0);
    ProgressBar = new QProgressBar(this);
    ProgressBar->setGeometry(16, 149, 246, 17);
    ProgressBar->setFocusPolicy(Qt::NoFocus);
    ProgressBar->setTextVisible(false);
    ShowProgress();
    Save = MakeButton(this, "Сохранить", 312, 141, 97, 25);

    const std::initializer_list<TLabelRoom> labelRooms{
        {Com_str, Com->x()},     {Speed_str, Speed->x()},     {Label4, Adder->x()},      {Index_str, Index->x()},
        {Count_str, Count->x()}, {Version_str, Serial->x()}, {Serial_str, width()}};
    setFont(FittedFont(font, labelRooms));
    for (const TLabelRoom& room : labelRooms) room.Label->adjustSize();

    Timer1 = new QTimer(this);
    Timer1->setInterval(2500);
    FSilenceTimer = new TPreciseTimer(this);
    FAnswerTimer = new TPreciseTimer(this);

    // Com, Speed, Adder in the group's place, then the window's own order.
    QWidget::setTabOrder(Com, Speed);
    QWidget::setTabOrder(Speed, Adder);
    QWidget::setTabOrder(Adder, Disconnect);
    QWidget::setTabOrder(Disconnect, Connect);
    QWidget::setTabOrder(Connect, Version);
    QWidget::setTabOrder(Version, Index);
    QWidget::setTabOrder(Index, Count);
    QWidget::setTabOrder(Count, Start);
    QWidget::setTabOrder(Start, Stop);
    QWidget::setTabOrder(Stop, Arch);
    QWidget::setTabOrder(Arch, Serial);
    QWidget::setTabOrder(Serial, Save);
}

void TForm1::WireHandlers()
{
    const auto guarded = [](auto Handler) { return [Handler] { RunGuarded(Handler); }; };
    connect(Connect, &QPushButton::clicked, this, guarded([this] { ConnectClick(); }));
    connect(Disconnect, &QPushButton::clicked, this, guarded([this] { DisconnectClick(); }));
    connect(Start, &QPushButton::clicked, this, guarded([this] { StartClick(); }));
    connect(Stop, &QPushButton::clicked, this, guarded([this] { StopClick(); }));
    connect(Save, &QPushButton::clicked, this, guarded([this] { SaveClick(); }));
    connect(Timer1, &QTimer::timeout, this, guarded([this] { Timer1Timer(); }));
    FSilenceTimer->OnTimeout = guarded([this] { FController.SilenceTimerTimer(); });
    FAnswerTimer->OnTimeout = guarded([this] { FController.AnswerTimerTimer(); });
    // The port as the window stores it: its own defaults but for the
    // receive handler. An exception from that handler goes back through its
    // hand-over to the port's event thread, as the port expects.
    ConfigureComPort(ComPort1);
    ComPort1.OnRxChar = [this](TObject& Sender, int32_t Count) { ComPort1RxChar(Sender, Count); };
}

void TForm1::FormCreate()
{
    Index->setText(QStringLiteral("0"));
    Count->setText(QStringLiteral("1000"));
    FGrid.SetCell(0, 0, QString::fromUtf8("Номер"));
    FGrid.SetCell(1, 0, QString::fromUtf8("Ответ"));
    ReadConnectionSettings(*this, FSysRoot, FDevRoot);
    Disconnect->setEnabled(false);
    Connect->setEnabled(true);
    Stop->setEnabled(false);
    Start->setEnabled(true);
}

void TForm1::FormClose()
{
    ComPort1.Close();
}

void TForm1::closeEvent(QCloseEvent* Event)
{
    RunGuarded([this] { FormClose(); });
    Event->accept();
}

void TForm1::ConnectClick() { FController.ConnectClick(); }
void TForm1::DisconnectClick() { FController.DisconnectClick(); }
void TForm1::StartClick() { FController.StartClick(); }
void TForm1::StopClick() { FController.StopClick(); }
void TForm1::Timer1Timer() { FController.Timer1Timer(); }
void TForm1::ComPort1RxChar(TObject&, int32_t Count) { FController.ComPort1RxChar(Count); }
void TForm1::SaveClick() { SaveLog(*this); }

// --- the controller's window operations --------------------------------------

void TForm1::SetControlEnabled(TWindowControl Control, bool Enabled)
{
    QWidget* widget = nullptr;
    switch (Control) {
    case TWindowControl::Con_setting: widget = Con_setting; break;
    case TWindowControl::Connect: widget = Connect; break;
    case TWindowControl::Disconnect: widget = Disconnect; break;
    case TWindowControl::Start: widget = Start; break;
    case TWindowControl::Stop: widget = Stop; break;
    }
    widget->setEnabled(Enabled);
}

QLineEdit* TForm1::EditBox(TEditBox Box) const
{
    switch (Box) {
    case TEditBox::Adder: return Adder;
    case TEditBox::Version: return Version;
    case TEditBox::Serial: return Serial;
    case TEditBox::Index: return Index;
    case TEditBox::Count: return Count;
    }
    return Adder;
}

std::string TForm1::EditText(TEditBox Box) const
{
    return S(EditBox(Box)->text());
}

void TForm1::SetEditText(TEditBox Box, const std::string& Text)
{
    EditBox(Box)->setText(Q(Text));
}

std::string TForm1::SelectedText(TDropDown List) const
{
    return List == TDropDown::Com ? ComText() : SpeedText();
}

void TForm1::SetCell(int32_t Col, int32_t Row, const std::string& Text)
{
    FGrid.SetCell(Col, Row, Q(Text));
}

std::string TForm1::Cell(int32_t Col, int32_t Row) const
{
    return S(FGrid.Cell(Col, Row));
}

void TForm1::SetProgressMax(int32_t Max)
{
    if (Max < 0) throw Exception("TProgressBar property out of range");
    FProgressMax = Max;
    FProgressPosition = std::min(FProgressPosition, Max);
    ShowProgress();
}

void TForm1::SetProgressPosition(int32_t Position)
{
    FProgressPosition = std::clamp(Position, 0, FProgressMax);
    ShowProgress();
}

// A range of 0 to 0 would make the bar spin as "busy"; it shows empty instead.
void TForm1::ShowProgress()
{
    ProgressBar->setRange(0, std::max(FProgressMax, 1));
    ProgressBar->setValue(FProgressMax == 0 ? 0 : FProgressPosition);
}

void TForm1::SetTimer1Enabled(bool Enabled)
{
    if (!Enabled)
        Timer1->stop();
    else if (!Timer1->isActive())
        Timer1->start();
}

TPreciseTimer* TForm1::ExchangeTimer(TExchangeTimer Timer) const
{
    return Timer == TExchangeTimer::etSilence ? FSilenceTimer : FAnswerTimer;
}

void TForm1::StartTimer(TExchangeTimer Timer, std::chrono::microseconds Interval)
{
    ExchangeTimer(Timer)->Start(Interval);
}

void TForm1::StopTimer(TExchangeTimer Timer)
{
    ExchangeTimer(Timer)->Stop();
}

void TForm1::ShowMessage(const std::string& Text)
{
    ShowMessageBox(this, Q(Text));
}

void TForm1::PostError(const std::string& Message)
{
    QMetaObject::invokeMethod(this, [this, text = Q(Message)] { ShowErrorBox(this, text); }, Qt::QueuedConnection);
}

void TForm1::WriteConnectionSettings()
{
    ::WriteConnectionSettings(*this);
}

// --- the settings file's controls --------------------------------------------

std::vector<std::string> TForm1::ComItems() const
{
    std::vector<std::string> items;
    for (int i = 0; i < Com->count(); ++i) items.push_back(S(Com->itemText(i)));
    return items;
}

void TForm1::SetComItems(const std::vector<std::string>& Items)
{
    Com->clear();
    for (const std::string& item : Items) Com->addItem(Q(item));
    Com->setCurrentIndex(-1);
}

void TForm1::SetComIndex(int32_t Index)
{
    Com->setCurrentIndex(Index);
}

std::string TForm1::ComText() const
{
    return Com->currentIndex() < 0 ? std::string() : S(Com->currentText());
}

std::vector<std::string> TForm1::SpeedItems() const
{
    std::vector<std::string> items;
    for (int i = 0; i < Speed->count(); ++i) items.push_back(S(Speed->itemText(i)));
    return items;
}

void TForm1::SetSpeedIndex(int32_t Index)
{
    Speed->setCurrentIndex(Index);
}

std::string TForm1::SpeedText() const
{
    return Speed->currentIndex() < 0 ? std::string() : S(Speed->currentText());
}

std::string TForm1::AdderText() const
{
    return S(Adder->text());
}

void TForm1::SetAdderText(const std::string& Text)
{
    Adder->setText(Q(Text));
}

std::string TForm1::VersionText() const
{
    return S(Version->text());
}

std::string TForm1::SerialText() const
{
    return S(Serial->text());
}
