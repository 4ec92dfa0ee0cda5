// The threat list's set-up: columns, extended styles and the image list of state icons.
#include "app/SnoopsweepDlg.h"

#include "detect/ThreatRows.h"
#include "res/resource.h"
#include "ui/WinApp.h"

void CSnoopsweepDlg::InitThreatList() {
    const RECT rect = m_list.WindowRect();
    const auto widths = detect::ColumnWidths(rect.right - rect.left);
    for (int column = 0; column < 4; ++column)
        m_list.InsertColumn(column, detect::kColumnHeadings[column], LVCFMT_CENTER, widths[column]);

    m_list.SetExtendedStyle(0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);

    // Image-list order: detected, blocked, allowed, detected and blocked, detected and allowed.
    static const UINT kIcons[] = {IDI_DETECTED, IDI_BLOCKED, IDI_ALLOWED, IDI_DETECTED_BLOCKED,
                                  IDI_DETECTED_ALLOWED};
    if (m_imageList.Create(16, 16, 0, 8, 8)) {
        for (UINT icon : kIcons)
            m_imageList.Add(ui::WinApp::Current()->LoadIcon(icon));
        m_list.SetImageList(m_imageList.Get(), LVSIL_SMALL);
        m_imageList.HandOver();
    }
}
