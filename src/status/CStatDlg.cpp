#include "CStatDlg.h"

CStatDlg::CStatDlg(const AppContext& context, QWidget* parent) : QDialog(parent)
{
    Q_UNUSED(context);
}
