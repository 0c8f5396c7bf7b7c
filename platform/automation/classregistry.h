#pragma once
// Per-user registry of automation classes (placeholder until implemented).
