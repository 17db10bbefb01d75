// The MIDI window's port panel, which chooses the MIDI output of the songs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTest>
#include <future>

#include "tests/support/window_test.h"

namespace {

using Calls = std::vector<std::string>;

// Outputs whose listing hangs until the test lets it answer, as a port
// system with stale shared state does.
struct StalledOutputs : mci::MidiOutCatalog {
  std::promise<void> answer;
  std::shared_future<void> answered = answer.get_future().share();
  std::vector<std::string> outputNames() override {
    answered.wait();
    return {"Synth", "Late port"};
  }
  std::string waitingOn() override { return "TESTSYS"; }
};

// Entries: 0 "MIDI Mapper", 1 "Synth", 2 "USB MIDI", 3 "Module".
class PortPanel : public plimra::test::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    for (const char* n : {"a.mid", "b.mid"})
      ASSERT_TRUE(QFile(music + "/" + n).open(QIODevice::WriteOnly));
    outputs->set({"Synth", "USB MIDI", "Module"});
    sequencer->errors["port -2"] = mci::err::SeqPortNonexistent;
  }

  // The commands these tests follow: opens, closes, plays and port changes.
  Calls calls() { return sequencer->take({"open", "close", "play", "port"}); }

  bool panelShown() const {
    const bool panel = window->portList->isVisibleTo(window.get());
    // The panel and the browser with its transport bar are never shown together.
    for (QWidget* w : {window->portOk, window->portCancel, window->portSave})
      EXPECT_EQ(panel, w->isVisibleTo(window.get())) << w->objectName().toStdString();
    for (QWidget* w : std::initializer_list<QWidget*>{window->fileList, window->folderList,
                                                      window->driveList, window->transport})
      EXPECT_NE(panel, w->isVisibleTo(window.get())) << w->objectName().toStdString();
    return panel;
  }
};

}  // namespace

// A choice without a song, or cancelled, holds for the next song; OK sends
// the entry minus one to the open song; the choice outlives a new listing.
TEST_F(PortPanel, AChoiceGoesToTheOpenSongOrHoldsForTheNextOne) {
  MidiWindow& w = startPlayer();
  w.onPortPanel();
  w.portList->setListIndex(1);
  w.onPortOk();  // no device open: nowhere to send it
  EXPECT_TRUE(calls().empty());
  play(0);
  EXPECT_EQ(calls(), (Calls{"open " + (music + "/a.mid").toStdString(), "port 0", "play"}));

  w.onPortPanel();
  w.portList->setListIndex(3);
  w.onPortCancel();
  EXPECT_FALSE(panelShown());
  EXPECT_TRUE(calls().empty());
  // The next song gets the port, and closes the panel were it open.
  w.onPortPanel();
  sequencer->finish();
  pump();
  EXPECT_EQ(calls(),
            (Calls{"close", "open " + (music + "/b.mid").toStdString(), "port 2", "play"}));
  EXPECT_FALSE(panelShown());

  // Entry 0 is the mapper (-1); no selection gives -2, which is refused.
  for (auto [entry, sent] : {std::pair{0, "port -1"}, {3, "port 2"}, {-1, "port -2"}}) {
    w.onPortPanel();
    ASSERT_TRUE(panelShown());
    w.portList->setListIndex(entry);
    w.onPortOk();
    EXPECT_FALSE(panelShown());
    EXPECT_EQ(calls(), Calls{sent});
  }

  // Opening the panel lists the ports anew, keeping the choice by name.
  w.portList->setListIndex(3);  // "Module"
  outputs->set({"Synth", "New keyboard", "USB MIDI", "Module"});
  w.onPortPanel();
  EXPECT_EQ(entries(w.portList),
            (QStringList{"MIDI Mapper", "Synth", "New keyboard", "USB MIDI", "Module"}));
  EXPECT_EQ(w.portList->ListIndex(), 4);
  // A port that went away leaves nothing chosen, not what took its place.
  outputs->set({"Synth", "New keyboard", "USB MIDI", "Other"});
  w.onPortPanel();
  EXPECT_EQ(w.portList->ListIndex(), -1);
}

TEST_F(PortPanel, APortThatCannotBeOpenedIsReportedOnceAndTheSongGoesOn) {
  ScriptedMsgBox boxes;
  MidiWindow& w = startPlayer();
  sequencer->errors["port 2"] = mci::err::SeqPortMiscError;
  w.portList->setListIndex(3);  // "Module", port 2
  play(0);
  sequencer->finish();  // the next song fails on the same port again
  pump();
  ASSERT_EQ(boxes.asked().size(), 1u);
  EXPECT_NE(boxes.asked()[0].prompt.indexOf("Module"), -1);
  EXPECT_EQ(w.windowTitle(), "b.mid");
  // Refusals on purpose say nothing: no selection, no song open.
  w.portList->setListIndex(-1);
  play(1);
  w.transport->setCommand("CLOSE");
  w.portList->setListIndex(3);
  w.onPortOk();
  pump();
  EXPECT_EQ(boxes.asked().size(), 1u);
}

TEST_F(PortPanel, SaveAppliesThePortAndClosesThePanelBeforeAskingAndWritesItsNameOnYes) {
  ScriptedMsgBox boxes({kit::vbNo, kit::vbYes});
  MidiWindow& w = startPlayer();
  play(0);
  calls();
  w.onPortPanel();
  w.portList->setListIndex(3);
  w.onPortSave();
  EXPECT_EQ(calls(), Calls{"port 2"});
  EXPECT_FALSE(panelShown());
  ASSERT_EQ(boxes.asked().size(), 1u);
  EXPECT_EQ(boxes.asked()[0].prompt, "保存してよろしいですか？");

  // A double-click on a port saves too, its name right after its index.
  w.onPortPanel();
  w.onPortActivated();
  EXPECT_EQ(calls(), Calls{"port 2"});
  EXPECT_TRUE(readIni().contains("MIDIOUT= 3\nMIDIOUTName=Module\n")) << readIni().toStdString();
}

// The two ports of one interface differ only past their 31st byte; two
// identical devices do not differ at all. Each is shown, saved and
// restored as itself; a file with a name cut as older saves wrote it
// restores the one port the name begins, else the saved index.
TEST_F(PortPanel, PortsAlikeInTheirFirstBytesAreShownSavedAndRestoredEachAsItself) {
  const std::string port1 = "USB MIDI Interface XMidi 2x2 Port 1:input";
  const std::string port2 = "USB MIDI Interface XMidi 2x2 Port 2:input";
  outputs->set({"Synth", port1, port2, "Twin", "Twin"});
  ScriptedMsgBox boxes({kit::vbYes, kit::vbYes});
  EXPECT_EQ(startMidiWindow().portList->List(3), QString::fromStdString(port2));
  for (int chosen : {3, 5}) {
    MidiWindow& w = *window;
    w.onPortPanel();
    w.portList->setListIndex(chosen);
    w.onPortSave();
    EXPECT_TRUE(readIni().contains("MIDIOUT= " + QByteArray::number(chosen) +
                                   "\nMIDIOUTName=" + w.portList->List(chosen).toUtf8() + "\n"))
        << readIni().constData();
    EXPECT_EQ(startMidiWindow().portList->ListIndex(), chosen);
  }

  // Another device plugged in before them moves the indexes, not the names.
  outputs->set({"Synth", "New keyboard", port1, port2, "Twin", "Twin"});
  const std::pair<QByteArray, int> files[] = {
      {"MIDIOUT=3\nMIDIOUTName=" + QByteArray(port2.c_str()), 4},
      {"MIDIOUT=6\nMIDIOUTName=Twin", 6},
      {"MIDIOUT=1\nMIDIOUTName=Twin", 5},
      // A cut name that both ports begin: the index stands.
      {"MIDIOUT=1\nMIDIOUTName=USB MIDI Interface XMidi 2x2 Po", 1},
  };
  for (const auto& [file, entry] : files) {
    writeIni("[Option]\n" + file + "\n");
    EXPECT_EQ(startMidiWindow().portList->ListIndex(), entry) << file.constData();
  }
  // One that a single port begins: that port.
  outputs->set({"Synth", "A module whose name is long enough to be cut"});
  writeIni("[Option]\nMIDIOUT=0\nMIDIOUTName=A module whose name is long eno\n");
  EXPECT_EQ(startMidiWindow().portList->ListIndex(), 2);
}

TEST_F(PortPanel, AStalledPortSystemDoesNotHoldUpTheWindowAndItsListComesLater) {
  // The saved port is chosen once the list has come; a save meanwhile keeps
  // it.
  writeIni("[Option]\nMIDIOUT=1\nMIDIOUTName=Late port\n");
  auto stalled = std::make_shared<StalledOutputs>();
  mci::setMidiOutCatalog(stalled);
  testing::internal::CaptureStderr();
  MidiWindow& w = startMidiWindow(false);
  // Named once its second is up.
  pump(1100);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("TESTSYS"), std::string::npos) << said;
  EXPECT_EQ(w.portList->ListCount(), 0);
  {
    ScriptedMsgBox boxes({kit::vbYes});
    w.onSave();
  }
  EXPECT_TRUE(readIni().contains("MIDIOUT= 1\nMIDIOUTName=Late port\n")) << readIni().constData();
  stalled->answer.set_value();
  EXPECT_TRUE(waitUntil([&] { return w.portList->ListCount() > 0; }));
  EXPECT_EQ(entries(w.portList), (QStringList{"MIDI Mapper", "Synth", "Late port"}));
  EXPECT_EQ(w.portList->ListIndex(), 2);
}

TEST_F(PortPanel, TabReachesTheTransportButtonsAndThePanelControls) {
  MidiWindow& w = startPlayer();
  play(0);
  QApplication::setActiveWindow(&w);
  auto walk = [&](QWidget* from) {
    QStringList seen;
    from->setFocus();
    for (int i = 0; i < 12; ++i) {
      QWidget* f = QApplication::focusWidget();
      if (!f || (i > 0 && f == from)) break;
      seen << f->objectName();
      QTest::keyClick(f, Qt::Key_Tab);
    }
    return seen;
  };
  // The enabled buttons of the bar follow the three lists.
  const QStringList browser = walk(w.folderList);
  EXPECT_TRUE(browser.mid(0, 3) == QStringList({"folderList", "fileList", "driveList"}) &&
              browser.contains("Stop"))
      << browser.join(',').toStdString();
  w.onPortPanel();
  EXPECT_EQ(walk(w.portList), (QStringList{"portList", "portOk", "portCancel", "portSave"}));
  // With no entry chosen, End goes to the last entry and Home to the first;
  // the arrow keys start from the first (Down) or the last (Up).
  for (auto [key, entry] :
       {std::pair{Qt::Key_End, 3}, {Qt::Key_Home, 0}, {Qt::Key_Up, 3}, {Qt::Key_Down, 0}}) {
    w.portList->setListIndex(-1);
    w.portList->setFocus();
    QTest::keyClick(w.portList, key);
    EXPECT_EQ(w.portList->ListIndex(), entry) << key;
  }
  w.portList->setListIndex(-1);
  calls();
  for (Qt::Key key : {Qt::Key_End, Qt::Key_Tab, Qt::Key_Space})
    QTest::keyClick(QApplication::focusWidget(), key);
  EXPECT_EQ(calls(), Calls{"port 2"});  // OK with the last port, "Module"
  w.onPortPanel();
  // Enter on the focused button presses it.
  w.portOk->setFocus();
  QTest::keyClick(w.portOk, Qt::Key_Return);
  EXPECT_FALSE(panelShown());
  EXPECT_EQ(QApplication::focusWidget(), w.folderList);
}
