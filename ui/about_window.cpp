#include "ui/about_window.h"

#include <QFontMetrics>
#include <QLabel>
#include <QMenuBar>
#include <QtGlobal>
#include <algorithm>

#include "resources/icons.h"
#include "ui/kit/appearance.h"

namespace plimra::ui {

namespace kit = plimra::kit;

AboutWindow::AboutWindow() : kit::Form(QStringLiteral("aboutWindow"), 2985, 1890) {
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

  picture = new QLabel(c);
  picture->setObjectName(QStringLiteral("picture"));
  picture->setPixmap(plimra::resources::notesPicture());
  picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  kit::place(picture, 120, 120, 480, 480);

  nameLabel = new kit::Label(c);
  nameLabel->setObjectName(QStringLiteral("nameLabel"));
  nameLabel->setCaption(QStringLiteral("Ｐｌｉｍｒａ"));
  nameLabel->setFont(kit::layoutFont(kit::kSystem, 13.5));
  nameLabel->setWordWrap(false);
  nameLabel->setBackColor(kit::COLOR_WINDOW);
  nameLabel->setForeColor(kit::COLOR_WINDOWTEXT);
  kit::place(nameLabel, 600, 120, 1212, 372);

  okButton = new kit::CommandButton(QStringLiteral("了解"), c);
  okButton->setObjectName(QStringLiteral("okButton"));
  kit::setBackColor(okButton, kit::COLOR_WINDOW);
  kit::place(okButton, 2160, 120, 732, 372);

  aboutText = new kit::Label(c);
  aboutText->setObjectName(QStringLiteral("aboutText"));
  aboutText->setWordWrap(false);
  aboutText->setBackColor(kit::COLOR_WINDOW);
  aboutText->setForeColor(kit::COLOR_WINDOWTEXT);
  kit::place(aboutText, 120, 600, 2775, 1095);

  // The button is the one control that takes the focus.
  okButton->setFocus();
  connect(okButton, &kit::CommandButton::Click, this, &AboutWindow::onOk);
}

AboutWindow::~AboutWindow() = default;

void AboutWindow::onLoad() {
  // Built anew on every load; the label breaks lines at each carriage return.
  QString text = QStringLiteral("Midi Player Version 5.95") + u'\r';
  text += QStringLiteral("    for Linux (X11 / Wayland)") + u'\r';
  text += QStringLiteral("    C++20 / Qt ") + QString::fromLatin1(qVersion()) + u'\r';
  text += QStringLiteral("Copyright (C) Plimra developers") + u'\r';
  text += QStringLiteral("             Plimra: see its README") + u'\r';
  text += QStringLiteral("October 13, 1997");
  aboutText->setCaption(text);
  fitAboutText();
}

void AboutWindow::fitAboutText() {
  // The label holds six lines of the window's font where that font is as
  // compact as the one the layout was made for; a taller or wider face here
  // is stepped down until every line shows whole.
  QFont f = font();
  const QStringList lines = aboutText->text().split(u'\n');
  for (double points = f.pointSizeF(); points > 6.0; points -= 0.5) {
    f.setPointSizeF(points);
    const QFontMetrics m(f);
    int widest = 0;
    for (const QString& line : lines) widest = std::max(widest, m.horizontalAdvance(line));
    if (m.lineSpacing() * lines.size() <= aboutText->height() && widest <= aboutText->width())
      break;
  }
  aboutText->setFont(f);
}

void AboutWindow::onOk() { Unload(); }

void AboutWindow::onUnload(int16_t& /*Cancel*/) {
  // The close goes on to destroy the window (WA_DeleteOnClose); until that
  // happens the program-wide accessor already treats it as gone.
  unloaded_ = true;
}

}  // namespace plimra::ui
