#include "tests/resources/expected_resources.h"

const wchar_t* const englishDialogFace = L"MS Sans Serif";
const wchar_t* const japaneseDialogFace = L"ＭＳ Ｐゴシック";

const std::vector<ExpectedString>& expectedStrings() {
    static const std::vector<ExpectedString> strings = {
        {2000, L"Zelmar Corporation", L"Zelmar Corporation"},
        {2001, L"Digital Still Camera", L"Digital Still Camera"},
        {2002, L"Zelmar Dorvex", L"Zelmar Dorvex"},
        {2003, L"1.00J - Nov.1997", L"1.00J - Nov.1997"},
        {2004, L"Dorvex", L"Dorvex"},
        {2005, L"Pava", L"Pava"},
        {2006, L"Super Fine", L"Super Fine"},
        {2007, L"Fine", L"Fine"},
        {2008, L"Economy", L"Economy"},
        {2009, L"Normal", L"Normal"},
        {2010, L"Enpty", L"0 %"},
        {2011, L"Low", L"50～0%"},
        {2012, L"Full", L"100～50%"},
        {2013, L"AC", L"AC接続"},
        {2014, L"Unknown", L"不明"},
        {2015, L"MS Sans Serif", L"ＭＳ Ｐゴシック"},
        {2016, L"MS Sans Serif", L"ＭＳ ゴシック"},
        {3000, L"An unknown error has occurred.", L"予期せぬエラーが発生しました。"},
        {3001, L"Image conversion failed.", L"イメージの変換に失敗しました。"},
        {3002, L"Unable to connect to Dorvex.", L"接続に失敗しました。"},
        {3003, L"Image transfer failed.", L"転送に失敗しました。"},
        {3004, L"(Clock) Setting failed.", L"設定に失敗しました。"},
        {3005, L"Communication Error.", L"通信に失敗しました。"},
        {3006, L"Card is not in camera.", L"カードが挿入されていません。"},
        {3007, L"Invalid Date or Time format.", L"日時の設定が不正です。"},
        {3100, L"No response from Dorvex. Please check\nif Dorvex is connected, is powered\nup and is closed card door.\nProceed anyway?", L"カード蓋が開いているか、\nカメラが接続されていないか、\nカメラの電源が入っていません。\n作業を続けますか？"},
        {3101, L"Low battery.\nProceed anyway?", L"電池がなくなりかけています。\n作業を続けますか？"},
        {3102, L"Dorvex is busy. Please wait until busy LED unlit.\nThen, click OK button to proceed.", L"カメラが作業中です。\nカードアクセス警告ランプが消えてから、\nOKボタンを押してください。"},
        {3200, L"There is not thumbnail image.", L"サムネール画像がありません。"},
        {3201, L"Found image what has no thumbnail image.", L"サムネール画像を持たないものがあります。"},
        {4000, L"Displays the number of images in camera.", L"カメラ内の画像枚数が表示されます。"},
        {4001, L"Displays the camera power supply status.", L"カメラの電源の状態が表示されます。"},
        {4002, L"Opens the image selection dialog for aquiring.", L"カメラから画像の取得を開始します。"},
        {4003, L"Opens the Settings dialog.", L"カメラの設定を変更します。"},
        {4004, L"Dispalys the images in the camera.", L"カメラ内の画像の一覧が表示されます。\nクリックで選択、ダブルクリックでパソコンへの転送を行います。"},
        {4005, L"Transfers selected images of a personal computer.", L"選択された画像をパソコンに転送します。"},
        {4006, L"Displays the image information.", L"選択された画像の情報を表示します。"},
        {4007, L"Displays the thumbnail images for selected images.", L"選択された画像のサムネール画像を表示します。"},
        {4008, L"Select communication speed.", L"カメラとの通信速度を設定します。"},
        {4009, L"Select communication port.", L"通信シリアルポートを設定します。"},
        {4010, L"Enter date for the camera.", L"カメラの日付を設定します。"},
        {4011, L"Enter time for the camera.", L"カメラの時刻を設定します。"},
        {4012, L"When checked, syncronize camera date and time with PC", L"カメラの日時をパソコンに合わせる場合、チェックします。"},
        {4013, L"When checked, [Open] button simultaneously displays the thumbnail images.", L"「開始」と同時にサムネール画像を表示する場合、チェックします。"},
        {4014, L"Displays the thumbnail images.", L"サムネール画像を表示します。"},
        {57344, L"Zelmar Dorvex", L"Zelmar Dorvex"},
    };
    return strings;
}

namespace {

using K = ControlKind;
constexpr Place same = {-2, -2, -2, -2};  // Japanese place equal to the English one

ExpectedDialog cameraDialog() {
    return {130, L"Zelmar Dorvex", L"Zelmar Dorvex", 150, 150, 70, 0, true, true, true,
            {
                {1001, K::Bitmap, L"", L"", unplaced, unplaced},
                {1004, K::RightLabel, L"Pics.Taken", L"撮影枚数", unplaced, unplaced},
                {1005, K::CentreLabel, L"", L"", unplaced, unplaced},
                {1006, K::RightLabel, L"Power Level", L"電池残量", unplaced, {55, 28, 40, 12}},
                {1007, K::CentreLabel, L"", L"", unplaced, unplaced},
                {IDCANCEL, K::DefaultButton, L"Cancel", L"ｷｬﾝｾﾙ", unplaced, unplaced},
                {1008, K::Button, L"Open", L"開  始", unplaced, unplaced},
                {1009, K::Button, L"Setting", L"設  定", unplaced, unplaced},
            }};
}

ExpectedDialog acquireDialog() {
    return {131, L"Image Aquire", L"イメージの転送", -1, -1, -1, 0, true, true, true,
            {
                {IDCANCEL, K::DefaultButton, L"Cancel", L"ｷｬﾝｾﾙ", unplaced, unplaced},
                {1010, K::Button, L"Aquire", L"転  送", unplaced, unplaced},
                {1011, K::Button, L"Show Info.", L"情  報", unplaced, unplaced},
                {1012, K::Button, L"Thumbnail", L"ｻﾑﾈｰﾙ", unplaced, unplaced},
            }};
}

ExpectedDialog settingsDialog() {
    return {132, L"Settings", L"カメラの設定", 200, 170, 165, 10, true, true, true,
            {
                {-1, K::LeftLabel, L"Bit rate:", L"通信速度 :", {30, 12, 43, 8}, same},
                {1013, K::DropList, L"", L"", {75, 10, 50, 60}, same},
                {-1, K::LeftLabel, L"bps", L"bps", {130, 14, 12, 8}, same},
                {-1, K::LeftLabel, L"Comm. Port", L"通信ポート :", {30, 32, 43, 8}, same},
                {1014, K::DropList, L"", L"", {75, 30, 50, 60}, same},
                {-1, K::Divider, L"", L"", {10, 47, 180, 9}, {10, 47, 150, 5}},
                {1015, K::LeftLabel, L"Date(YYYY/MM/DD)", L"現在の日付 :", {10, 62, 70, 8}, {10, 62, 43, 8}},
                {1017, K::NumberEdit, L"", L"", {89, 60, 35, 12}, {55, 60, 35, 12}},
                {1018, K::Spin, L"", L"", {114, 60, 8, 12}, {80, 60, 10, 12}},
                {-1, K::LeftLabel, L"/", L"-", {123, 62, 8, 8}, {91, 62, 8, 8}},
                {1019, K::NumberEdit, L"", L"", {132, 60, 25, 12}, {100, 60, 25, 12}},
                {1020, K::Spin, L"", L"", {147, 60, 8, 12}, {115, 60, 10, 12}},
                {-1, K::LeftLabel, L"/", L"-", {156, 62, 8, 8}, {126, 62, 8, 8}},
                {1021, K::NumberEdit, L"", L"", {165, 60, 25, 12}, {135, 60, 25, 12}},
                {1022, K::Spin, L"", L"", {180, 60, 8, 12}, {150, 60, 10, 12}},
                {1016, K::LeftLabel, L"Time(HH:MM:SS)", L"現在の時刻 :", {10, 82, 69, 8}, {10, 82, 43, 8}},
                {1023, K::NumberEdit, L"", L"", {100, 80, 25, 12}, {65, 80, 25, 12}},
                {1024, K::Spin, L"", L"", {115, 80, 8, 12}, {80, 80, 10, 12}},
                {-1, K::LeftLabel, L":", L":", {123, 82, 8, 8}, {91, 82, 8, 8}},
                {1025, K::NumberEdit, L"", L"", {132, 80, 25, 12}, {100, 80, 25, 12}},
                {1026, K::Spin, L"", L"", {147, 80, 8, 12}, {115, 80, 10, 12}},
                {-1, K::LeftLabel, L":", L":", {156, 82, 8, 8}, {126, 82, 8, 8}},
                {1027, K::NumberEdit, L"", L"", {165, 80, 25, 12}, {135, 80, 25, 12}},
                {1028, K::Spin, L"", L"", {180, 80, 8, 12}, {150, 80, 10, 12}},
                {1029, K::CheckBox, L"Set Date and Time with PC's clock", L"PCの時刻に合わせる", {25, 100, 153, 10},
                 {25, 100, 100, 10}},
                {-1, K::Divider, L"", L"", {10, 112, 180, 9}, {10, 112, 150, 5}},
                {1030, K::CheckBox, L"Automatically gets thumbnail images", L"ｻﾑﾈｰﾙを自動的に取得する",
                 {25, 123, 153, 10}, {25, 123, 120, 10}},
                {IDOK, K::DefaultButton, L"OK", L"OK", {25, 141, 50, 14}, same},
                {IDCANCEL, K::Button, L"Cancel", L"ｷｬﾝｾﾙ", {95, 141, 50, 14}, same},
            }};
}

ExpectedDialog informationDialog() {
    return {133, L"Image Information", L"画像情報", 195, 195, 125, 0, true, true, true,
            {
                {1000, K::LeftLabel, L"", L"", {10, 16, 0, 0}, same},
                {1031, K::LeftLabel, L"", L"", {10, 5, 20, 8}, same},
                {-1, K::RightLabel, L"Date:", L"撮影日時 :", {70, 10, 48, 8}, same},
                {-1, K::RightLabel, L"Image Quality:", L"画質 :", {70, 20, 48, 8}, same},
                {-1, K::RightLabel, L"Image Size:", L"画像サイズ :", {70, 30, 48, 8}, same},
                {-1, K::RightLabel, L"ShutterSpeed:", L"ｼｬｯﾀｰｽﾋﾟｰﾄﾞ :", {70, 40, 48, 8}, {70, 40, 50, 8}},
                {-1, K::RightLabel, L"Aperture:", L"絞り :", {70, 50, 48, 8}, same},
                {-1, K::RightLabel, L"Exp.Comp.:", L"露出補正 :", {70, 60, 48, 8}, same},
                {-1, K::RightLabel, L"Make:", L"メーカー名 :", {10, 75, 50, 8}, same},
                {-1, K::RightLabel, L"Model:", L"モデル名 :", {10, 85, 50, 8}, same},
                {1015, K::CentreLabel, L"", L"", {122, 10, 63, 8}, same},
                {1032, K::CentreLabel, L"", L"", {122, 20, 63, 8}, same},
                {1033, K::CentreLabel, L"", L"", {122, 30, 63, 8}, same},
                {1034, K::CentreLabel, L"", L"", {122, 40, 63, 8}, same},
                {1035, K::CentreLabel, L"", L"", {122, 50, 63, 8}, same},
                {1036, K::CentreLabel, L"", L"", {122, 60, 63, 8}, same},
                {1037, K::LeftLabel, L"", L"", {65, 75, 120, 8}, same},
                {1038, K::LeftLabel, L"", L"", {65, 85, 120, 8}, same},
                {1012, K::Button, L"Thumbnail", L"ｻﾑﾈｰﾙ", {30, 101, 50, 14}, same},
                {IDOK, K::DefaultButton, L"OK", L"OK", {115, 101, 50, 14}, same},
            }};
}

ExpectedDialog progressDialog() {
    return {134, L"Zelmar Dorvex", L"Zelmar Dorvex", 160, 160, 70, 0, true, false, false,
            {
                {-1, K::CentreLabel, L"Progress of Transfer...", L"転送中．．．", {34, 10, 92, 8}, {60, 10, 50, 8}},
                {1003, K::Progress, L"", L"", {10, 25, 140, 14}, same},
                {IDCANCEL, K::DefaultButton, L"Cancel", L"ｷｬﾝｾﾙ", {55, 46, 50, 14}, same},
            }};
}

ExpectedDialog helpPopup() {
    return {135, L"", L"", 120, 120, 45, 0, false, false, false,
            {
                {1039, K::LeftLabel, L"", L"", {5, 5, 110, 35}, same},
            }};
}

ExpectedDialog withJapanesePlaces(ExpectedDialog dialog) {
    for (ExpectedControl& control : dialog.controls)
        if (control.japanesePlace.x == same.x) control.japanesePlace = control.englishPlace;
    return dialog;
}

}  // namespace

const std::vector<ExpectedDialog>& expectedDialogs() {
    static const std::vector<ExpectedDialog> dialogs = {
        withJapanesePlaces(cameraDialog()),      withJapanesePlaces(acquireDialog()),
        withJapanesePlaces(settingsDialog()),    withJapanesePlaces(informationDialog()),
        withJapanesePlaces(progressDialog()),    withJapanesePlaces(helpPopup()),
    };
    return dialogs;
}
