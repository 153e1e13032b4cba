#pragma once
#include <QDialog>
#include <QString>
#include <functional>
#include <vector>

namespace vocalynx {

// One open-source component the application uses: its name, source repository and complete
// licence text.
struct LicenseEntry {
    QString name;
    QString url;
    QString license;
};

// Coli, Sparkle and Sentry, in that order.
const std::vector<LicenseEntry>& licenseEntries();

// The acknowledgements sheet: the components with their licence texts, closed by "完成" or Escape.
class LicensesSheet : public QDialog {
    Q_OBJECT
public:
    // openUrl opens a component's repository; it may be empty.
    LicensesSheet(std::function<bool(const QUrl&)> openUrl, QWidget* parent = nullptr);

    // Closes the sheet (the "完成" button).
    void dismiss();

    static constexpr int kWidth = 500;
    static constexpr int kHeight = 400;

private:
    std::function<bool(const QUrl&)> openUrl_;
};

// Opens the address text when it forms a URL; does nothing otherwise.
void openLink(const QString& url, const std::function<bool(const QUrl&)>& openUrl);

}  // namespace vocalynx
