#include "ui/about_window.h"

#include <QLabel>
#include <QFontMetrics>
#include <QMenuBar>
#include <algorithm>
#include <QtGlobal>

#include "resources/icons.h"
#include "ui/kit/appearance.h"

namespace plimra::about {

namespace kit = plimra::kit;

FrmAbout::FrmAbout() : kit::Form(QStringLiteral("frmAbout"), 2985, 1890) {
  setCaption(QString());
  setAttribute(Qt::WA_DeleteOnClose);
  // No icon of its own, no menu bar, no minimise button: only the close box.
  setWindowIcon(QIcon());
  setWindowFlag(Qt::WindowMinimizeButtonHint, false);
  menuBar()->setVisible(false);
  Move(4665, 2670);
  QWidget* c = client();
  kit::setBackColor(c, kit::COLOR_WINDOW);
  kit::setForeColor(c, kit::COLOR_WINDOWTEXT);

  Image1 = new QLabel(c);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setPixmap(plimra::resources::notesPicture());
  Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  kit::place(Image1, 120, 120, 480, 480);

  Label1 = new kit::Label(c);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setCaption(QStringLiteral("Ｐｌｉｍｒａ"));
  Label1->setFont(kit::layoutFont(kit::kSystem, 13.5));
  Label1->setWordWrap(false);
  Label1->setBackColor(kit::COLOR_WINDOW);
  Label1->setForeColor(kit::COLOR_WINDOWTEXT);
  kit::place(Label1, 600, 120, 1212, 372);

  Command1 = new kit::CommandButton(QStringLiteral("了解"), c);
  Command1->setObjectName(QStringLiteral("Command1"));
  kit::setBackColor(Command1, kit::COLOR_WINDOW);
  kit::place(Command1, 2160, 120, 732, 372);

  lblAbout = new kit::Label(c);
  lblAbout->setObjectName(QStringLiteral("lblAbout"));
  lblAbout->setWordWrap(false);
  lblAbout->setBackColor(kit::COLOR_WINDOW);
  lblAbout->setForeColor(kit::COLOR_WINDOWTEXT);
  kit::place(lblAbout, 120, 600, 2775, 1095);

  // The button is the one control that takes the focus.
  Command1->setFocus();
  connect(Command1, &kit::CommandButton::Click, this, &FrmAbout::Command1_Click);
}

FrmAbout::~FrmAbout() = default;

void FrmAbout::Form_Load() {
  // Built anew on every load; the label breaks lines at each carriage return.
  QString text = QStringLiteral("Midi Player Version 5.95") + u'\r';
  text += QStringLiteral("    for Linux (X11 / Wayland)") + u'\r';
  text += QStringLiteral("    C++20 / Qt ") + QString::fromLatin1(qVersion()) + u'\r';
  text += QStringLiteral("Copyright (C) Plimra developers") + u'\r';
  text += QStringLiteral("             Plimra: see its README") + u'\r';
  text += QStringLiteral("October 13, 1997");
  lblAbout->setCaption(text);
  FitAboutText();
}

void FrmAbout::FitAboutText() {
  // The label holds six lines of the window's font where that font is as
  // compact as the one the layout was made for; a taller or wider face here
  // is stepped down until every line shows whole.
  QFont f = font();
  const QStringList lines = lblAbout->text().split(u'\n');
  for (double points = f.pointSizeF(); points > 6.0; points -= 0.5) {
    f.setPointSizeF(points);
    const QFontMetrics m(f);
    int widest = 0;
    for (const QString& line : lines) widest = std::max(widest, m.horizontalAdvance(line));
    if (m.lineSpacing() * lines.size() <= lblAbout->height() && widest <= lblAbout->width()) break;
  }
  lblAbout->setFont(f);
}

void FrmAbout::Command1_Click() { Unload(); }

void FrmAbout::Form_Unload(int16_t& /*Cancel*/) {
  // The close goes on to destroy the window (WA_DeleteOnClose); until that
  // happens the program-wide accessor already treats it as gone.
  unloaded_ = true;
}

}  // namespace plimra::about
