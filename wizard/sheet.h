// The search-all wizard: the list page shows every printer that answers a broadcast search,
// the settings page shows the chosen printer's TCP/IP settings.
#pragma once

#include "discover/printerlist.h"
#include "resources/wizard_ids.h"
#include "wizard/wizard_page.h"

namespace wizard {

class CPageOne : public CWizardPage {
  public:
    int TemplateId() const override { return IDD_LIST_PAGE; }
    void SetUpPage() override;
    void ActivatePage() override;
    void PageShown() override;
    bool HandleNext() override;
    void HandleCommand(int id) override;
    void HandleClose() override { CancelEnd(); }

    // A new search; its result replaces the rows.
    void RefreshList();
    void FillList(PrinterRecord* newest);

    // The cell texts of the row taken at the last Next, by column: printer name, IP address,
    // gateway, subnet mask, hardware address.
    Text m_chosen[5];
    int m_rowCount = 0;
};

class CPageTwo : public CSettingsPage {
  public:
    explicit CPageTwo(const CPageOne& listPage) : m_listPage(listPage) {}
    int TemplateId() const override { return IDD_SETTINGS_PAGE; }
    // The chosen row's address, mask and gateway, as the list showed them.
    void ShowSettings() override;

  private:
    const CPageOne& m_listPage;
};

class CSheet : public CWizardSheet {
  public:
    CSheet();
    const CPageOne& ListPage() const { return m_pageOne; }

  private:
    CPageOne m_pageOne;
    CPageTwo m_pageTwo;
};

}  // namespace wizard
