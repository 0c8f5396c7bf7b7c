#pragma once
// In-memory property bag (placeholder until implemented).
