// Carries out a hardening plan on this host: one implementation of every
// step, for the dialog and for the console program. What a step shows is the
// front's business; what it changes and how it is judged is the run's. Before
// its first change a run saves the restore point, unless there is one.
#pragma once

#include <cstdint>
#include <string>

#include "firewall/advanced_firewall.h"
#include "firewall/legacy_firewall.h"
#include "hardening/guarded_ports.h"
#include "hardening/hardening_outcome.h"
#include "hardening/hardening_plan.h"
#include "hardening/step_observer.h"

class HardeningFront : public StepObserver {
 public:
  virtual void EnableControl(FrontControl control, bool enable) = 0;
  virtual void ShowProgress(const char* textCp936) = 0;
  // Shows a reading of the firewall just taken.
  virtual void ShowReading(const PanelReading& reading) = 0;
  virtual void ShowCompletion(bool complete, const HardeningOutcome& outcome, const PanelReading& reading) = 0;
};

struct HardeningRunOptions {
  // A managed run does not add a rule the policy already holds in the same
  // form (name, protocol, ports, direction, action, enabled, profiles).
  bool skipIdenticalRules = false;
};

struct HardeningRunResult {
  HardeningOutcome outcome;
  PanelReading reading;  // the last reading of the run
  bool complete = false;
  int rulesAdded = 0;
  int rulesAlreadyPresent = 0;
  bool changed = false;            // the host differs from how the run found it
  bool restorePointSaved = false;  // this run saved the restore point
  // The first step that failed was refused access (by the service manager,
  // the policy or the registry): the run was not elevated.
  bool accessDenied = false;
};

HardeningRunResult RunHardening(int hostClass, CAdvancedFirewall& advanced, CLegacyFirewall& legacy,
                                HardeningFront& front, const HardeningRunOptions& options = {});

// The panel's readings, through the objects the run uses.
PanelReading ReadAdvancedPanel(CAdvancedFirewall& advanced);
PanelReading ReadLegacyPanel(CLegacyFirewall& legacy);
