// The launcher's hidden main dialog. Its only job is to exist: a top-level
// "#32770" window captioned "Tirn Home 2018 Setup" tells later launchers
// that one is already running.
#pragma once

#include "ui/Layer.h"

#include "framework/Afx.h"

class CTirnHomeISSetupDlg : public CDialog {
  public:
    explicit CTirnHomeISSetupDlg(CWnd* parent = nullptr);

    BOOL OnInitDialog() override;

    // Where the minimised icon is drawn: centred, rounding half up, with
    // division truncating toward zero.
    static POINT IconOrigin(const RECT& client, int iconWidth, int iconHeight);

  protected:
    void OnPaint();
    HCURSOR OnQueryDragIcon();

    HICON m_hIcon;

    DECLARE_MESSAGE_MAP()
};
