// ImageInfoDialog: the modal dialog 133 showing a picture's recorded information (texts made by
// the acquire dialog) and its thumbnail, with a button that asks the acquire dialog to fetch
// the thumbnail.
#pragma once

#include <windows.h>

#include "ui/dialog_window.h"

struct PictureEntry;
struct PictureInfoText;

class ImageInfoDialog : public DialogWindow {
public:
    // info and entry belong to the acquire dialog (parent), which outlives this dialog.
    ImageInfoDialog(unsigned listNumber, const PictureInfoText& info, const PictureEntry& entry, HWND parent);

    // Runs modally; the result is IDOK, IDCANCEL, or -1 when the dialog could not be made.
    INT_PTR run();

    POINT pictureOrigin{};  // client coordinates of the thumbnail's top-left corner

protected:
    BOOL onInitDialog() override;
    void onCommand(int id, int notifyCode, HWND control) override;
    INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    void onThumbnailButton();
    void paint();

    unsigned listNumber;
    const PictureInfoText& info;
    const PictureEntry& entry;
    HWND parent;
};
