#pragma once

#include <QString>

class QWidget;

// Calls into the desktop shell. None of them raises: failure is reported by
// the result, and the clipboard receives the text the user could not open.

// False for a blank text. Text without a scheme ("http://", "https://",
// "file://", "mailto:", ... in any case) gets "http://" put in front of it.
// On failure the address goes to the clipboard.
bool OpenURL(const QString &sURL);
// "mailto:<address>?subject=<subject or [no subject]>[&body=<body>]", parts
// inserted as they are. False for a blank address; on failure the address goes
// to the clipboard.
bool SendMailTo(const QString &sAddress, const QString &sSubject, const QString &sBody);
// Runs the shell verb sOperation ("open", "explore", "edit", "print"; empty
// means "open") on a file. With sParameters the file is started as a program
// with those arguments. On failure ShellErrorText of the code goes to the
// clipboard and false is returned.
bool ShellOpen(const QString &sFileName, const QString &sParameters, const QString &sOperation);
// ShellOpen(sFileName, "", "open").
bool OpenDocument(const QString &sFileName);

// Layout helpers: "right edge" is x() + width(), "bottom edge" y() + height().
// Sets the width so that the right edge is at x.
void SetRight(QWidget *control, int x);
// Moves the control so that its right edge is at x.
void AlignRight(QWidget *control, int x);
// Moves the control so that its bottom edge is at y.
void AlignBottom(QWidget *control, int y);
// Sets the height so that the bottom edge is at y.
void SetBottom(QWidget *control, int y);
