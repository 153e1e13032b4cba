// The windows layer: onboarding, settings, licences and what's new.
