// Placeholder: control of the tracker-facing simulation arrives with the tracker.
#pragma once
