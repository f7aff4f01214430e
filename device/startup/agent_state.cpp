#include "startup/agent_state.h"

AgentState Agent;

void ResetAgentState() { Agent = AgentState{}; }
