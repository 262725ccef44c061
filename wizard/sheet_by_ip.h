// The search-by-address wizard: the address page takes one printer's IPv4 or hardware address
// and looks for exactly that printer; the settings page shows what it found.
#pragma once

#include <memory>

#include "discover/printerlist.h"
#include "resources/wizard_ids.h"
#include "wizard/wizard_page.h"

namespace wizard {

class CPageOneIP : public CWizardPage {
  public:
    int TemplateId() const override { return IDD_ADDRESS_PAGE; }
    void SetUpPage() override { SelectIpMode(); }
    void ActivatePage() override;
    bool HandleNext() override;
    void HandleCommand(int id) override;
    void HandleClose() override { CancelEnd(); }

    void SelectIpMode();
    void SelectHardwareMode();

    int m_mode = SearchByIpAddress;
    // The page's own copy of the printer found by the last successful search.
    std::unique_ptr<PrinterRecord> m_found;
    Text m_ipText;
    Text m_hwText;

  private:
    // The address to search for, checked; false (after telling the user) when it is not one.
    bool TakeAddress(std::string* address);
    void KeepCopy(const PrinterRecord& record);
};

class CPageTwoIP : public CSettingsPage {
  public:
    explicit CPageTwoIP(const CPageOneIP& addressPage) : m_addressPage(addressPage) {}
    int TemplateId() const override { return IDD_ADDRESS_SETTINGS_PAGE; }
    // The found printer's address, mask and gateway; 0 shows as 0.0.0.0.
    void ShowSettings() override;

  private:
    const CPageOneIP& m_addressPage;
};

class CSheetByIP : public CWizardSheet {
  public:
    CSheetByIP();
    // The printer found, once the wizard finished; null when it found none.
    const PrinterRecord* Found() const { return m_pageOne.m_found.get(); }

  private:
    CPageOneIP m_pageOne;
    CPageTwoIP m_pageTwo;
};

}  // namespace wizard
