#include "ui/TirnHomeISSetupDlg.h"

#include "resources/resource.h"

BEGIN_MESSAGE_MAP(CTirnHomeISSetupDlg, CDialog)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
END_MESSAGE_MAP()

CTirnHomeISSetupDlg::CTirnHomeISSetupDlg(CWnd* parent)
    : CDialog(IDD_TIRNHOMEISSETUP_DIALOG, parent),
      m_hIcon(::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

BOOL CTirnHomeISSetupDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    return TRUE;
}

POINT CTirnHomeISSetupDlg::IconOrigin(const RECT& client, int iconWidth, int iconHeight) {
    int width = client.right - client.left;
    int height = client.bottom - client.top;
    return POINT{(width - iconWidth + 1) / 2, (height - iconHeight + 1) / 2};
}

void CTirnHomeISSetupDlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.m_hDC), 0);
    RECT client;
    GetClientRect(&client);
    POINT origin = IconOrigin(client, ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON));
    dc.DrawIcon(origin.x, origin.y, m_hIcon);
}

HCURSOR CTirnHomeISSetupDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}
